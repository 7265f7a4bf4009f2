#pragma once

#include <dlfcn.h>

// A system library opened on first use instead of being linked, so that a
// start that never needs it does not load it. Never closed: its threads
// and exit handlers may outlive any user.
class SharedLibrary {
public:
    explicit SharedLibrary(const char* soname) : m_handle(dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {}

    // Looks `name` up into `function`; a missing one leaves the library incomplete.
    template <typename Function>
    void resolve(Function& function, const char* name)
    {
        function = m_handle ? reinterpret_cast<Function>(dlsym(m_handle, name)) : nullptr;
        m_complete = m_complete && function;
    }

    // Opened, and every function asked for was found.
    bool complete() const { return m_handle && m_complete; }

private:
    void* m_handle;
    bool m_complete = true;
};
