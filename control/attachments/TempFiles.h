// Private temporary files: what the server sends is written for this user only, in the
// user's private temporary folder (core/PrivateTemp.h).
#pragma once

#include <string>

#include "core/PrivateTemp.h"

// The private temporary folder (UTF-8) with its trailing '/'.
std::string GetTempDirectory();
