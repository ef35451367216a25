#include "control/wire/SingleFileContainer.h"

#include "control/wire/Un_CopyFiles.h"

std::string BuildSingleFileContainer(std::string_view name, std::string_view data, int32_t state) {
  TCopy2Files files;
  files.Init(1);
  files.AddStream(name, data, state);
  return files.SaveToBytes();
}
