#include "control/office/OfficeCommon.h"

#include <algorithm>

#include "platform/office/OfficeContainer.h"

AnsiString OfficeWorkerLostText() {
  return Utf8ToCp936("文档服务已停止响应，窗口将关闭。此前保存的内容没有丢失。");
}

AnsiString OfficeWorkerNotStartedText() { return Utf8ToCp936("文档服务无法启动，文档不能打开。"); }

AnsiString OfficeWorkerGoneText(const TOfficeContainer& ole) {
  return ole.WorkerNotStarted() ? OfficeWorkerNotStartedText() : OfficeWorkerLostText();
}

std::string LowerExtension(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(c < 0x80 ? std::tolower(c) : c); });
  return ext;
}

bool IsWordFile(const std::string& path) {
  std::string ext = LowerExtension(path);
  return ext == ".doc" || ext == ".docx";
}
