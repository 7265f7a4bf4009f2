// A decoding module of another build: its interface number is not ours.

#include <QtGlobal>

extern "C" Q_DECL_EXPORT int vantelorquist_decoder_interface()
{
    return 0;
}

extern "C" Q_DECL_EXPORT void* vantelorquist_make_decoder()
{
    return nullptr;
}
