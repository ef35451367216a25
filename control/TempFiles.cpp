#include "control/TempFiles.h"

std::string GetTempDirectory() { return PrivateTempFolder(); }
