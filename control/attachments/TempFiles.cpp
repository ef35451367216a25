#include "control/attachments/TempFiles.h"

std::string GetTempDirectory() { return PrivateTempFolder(); }
