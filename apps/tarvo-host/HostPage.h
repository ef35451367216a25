#pragma once
// Plays the web page that hosts the control: registers the control library, finds the
// control through the registry, creates it inside its window, connects its event sink
// before showing it, answers OnDoLogin with SetServer and Login and OnAfterLogin with
// GetStream or GetFlowChart, and prints every event on stdout. Its help menu asks the
// control for the about box, as the page does.
#include <QPixmap>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/Dispatch.h"
#include "platform/com/Events.h"

// The ProgID under which the control library registers its control.
inline constexpr const char* kControlProgId = "TarvoProj.TarvoX";

struct HostOptions {
  std::string host;
  std::string port;
  std::string login;
  std::optional<std::vector<std::string>> open;  // the seven GetStream arguments
  std::optional<std::string> flow;
  bool exitAfterLogin = false;
  bool help = false;  // "--help": print the usage text, nothing else
  std::string screenshot;
  int screenshotDelay = 1500;
  std::string registry;  // empty: the registry's default file
  // Library to register and load; not given: the build's default; given empty: the
  // control is already registered.
  std::optional<std::string> library;
};

// Parses the command line (UTF-8); false with *error on a bad option. Parsing ends at
// "--help".
bool ParseHostOptions(const std::vector<std::string>& args, HostOptions& out, std::string* error);
// The options, one to a line, as "--help" prints them.
const char* HostUsage();

class HostPage {
 public:
  explicit HostPage(HostOptions options);
  ~HostPage();

  // Registers, loads and creates the control and connects the sink; false with a
  // message on stderr when any step fails.
  bool Start();
  QWidget* Window() { return &window_; }

 private:
  void BuildMenu();
  void OnEvent(DISPID id, const std::string& name, std::vector<EventArg>& args);
  QPixmap Screenshot();
  void Call(const char16_t* name, std::vector<Variant> args);
  void Stop();

  HostOptions options_;
  QWidget window_;
  ComPtr<IDispatch> control_;
  ComPtr<IEventSource> source_;
  ComPtr<IEventSink> sink_;
  uint32_t cookie_ = 0;
  bool answeredLogin_ = false;
  bool toldRefusal_ = false;
};
