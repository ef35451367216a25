#pragma once
// How a person leaves the host at the end of a visit: as one leaves a web page, by closing
// what is open and then the page itself, so that the host ends through its own quit path
// (and the leak checker reads it at exit) instead of being cut off.
#include <string>

class QWidget;

namespace walk {

// One step of leaving: what is on top goes first (a menu by Escape, a question answered
// 否, a box that only tells by its button, any other window by its close box), the page
// last. Returns what was done, for the log.
std::string LeaveStep(QWidget* page);

}  // namespace walk
