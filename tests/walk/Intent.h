#pragma once
// What the person meant in the Word editor, the workflow editor and a sign-off, set
// against what the server holds once it said it kept it. Each returns the differences,
// one line each; none when the server holds what was meant. Texts are UTF-8.
#include <string>
#include <utility>
#include <vector>

namespace walk {

// A sign-off sent with this text: one of the record's comments is that text.
std::vector<std::string> CommentDifferences(const std::string& db, const std::string& recordId, std::string sent);

// The workflow editor as the save was clicked: the chart's steps, the step its panel
// showed, and the connections the person drew on purpose.
struct FlowSeen {
  std::string flowName;
  std::vector<std::string> steps;  // the chart's objects, by text
  bool panel = false;              // a step's fields were shown
  std::string name, handlers, days, editableCells, opinionCell;
  std::vector<std::pair<std::string, std::string>> drawn;  // from, to
};
std::vector<std::string> FlowDifferences(const std::string& db, const FlowSeen& seen);

// Words typed into a Word document: each is in the record's body, or in one of its
// attached .docx files (the editor also opens those).
std::vector<std::string> BodyDifferences(const std::string& db, const std::string& recordId,
                                         const std::vector<std::string>& words);

}  // namespace walk
