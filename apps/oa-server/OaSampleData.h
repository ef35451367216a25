#pragma once
// What a fresh server database holds: units, departments and users, two workflows with
// their step records and charts, and the form templates their documents are made from.
// Sheets and charts are built with the grid and chart libraries; text is code page 936.
#include <string>
#include <vector>

#include "control/wire/Class_StoExcel.h"
#include "control/wire/FlowMessage.h"

namespace oa {

struct SampleUnit {
  int id;
  AnsiString name;
};

struct SampleDepartment {
  int id;
  int unitId;
  int parentId;
  AnsiString name;
};

struct SampleUser {
  AnsiString id;
  AnsiString loginName;
  AnsiString userName;
  int unitId;
  int deptId;
  int roleId;
  AnsiString roleName;
  int dutyId;
  AnsiString dutyName;
  int userLevel;
  int flag;
  AnsiString groups;  // each group name in commas
};

struct SampleTemplate {
  AnsiString name;       // what the page asks for
  AnsiString formFile;   // what the workflow editor names
  AnsiString tableName;  // where its documents are kept
  int workflowId = 0;
  AnsiString titleField;
  AnsiString numberField;
  AnsiString bodyName;  // Word body file, empty when none
  std::string body;
  std::string sheet;  // component stream
  std::vector<TComboSource> combos;
  int signOffMode = 0;
  int attachBelow = 0;
  uint8_t maximised = 0;
  int distributionType = 0;
};

struct SampleNumberKind {
  int id;
  int unitId;
  AnsiString prefix;
  int nextNumber;
};

// Component streams of the two sample forms.
std::string SampleLeaveSheet();
std::string SampleIncomingSheet();

std::vector<SampleUnit> SampleUnits();
std::vector<SampleDepartment> SampleDepartments();
std::vector<SampleUser> SampleUsers();
std::vector<TFlowMessage> SampleWorkflows();
std::vector<SampleTemplate> SampleTemplates();
std::vector<SampleNumberKind> SampleNumberKinds();
std::vector<TOpinionPhrase> SamplePhrases();

}  // namespace oa
