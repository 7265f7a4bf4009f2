#pragma once

// The MTP client as the rest of the application uses it.
#include "MTPConnection.h"
#include "MTPError.h"
#include "MTPManager.h"
