#include "Cancel.h"

#include "Error.h"

void Cancel::check() const
{
    if (isCancelled())
        throw Cancelled();
}
