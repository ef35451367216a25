#include "apps/oa-server/OaSampleData.h"

#include <map>

#include "apps/oa-server/DocxWriter.h"
#include "flowchart/FcChart.h"

namespace oa {

namespace {

// ---- people ----------------------------------------------------------------------

const SampleUser& UserByLogin(const char* login) {
  static const std::vector<SampleUser> users = SampleUsers();
  for (const SampleUser& u : users)
    if (u.loginName == login) return u;
  throw Exception(std::string("sample user missing: ") + login);
}

// A handler of a step; a reviewer under the department review names the departments he
// reviews instead of his own, so that he is never offered his own request.
struct HandlerSpec {
  HandlerSpec(const char* login, const char* reviews = nullptr) : login(login), reviews(reviews) {}
  const char* login;
  const char* reviews;  // department numbers in commas
};

THandlerEntry Handler(const HandlerSpec& h) {
  const SampleUser& u = UserByLogin(h.login);
  if (h.reviews) return {u.id, u.userName, 0, h.reviews};
  return {u.id, u.userName, u.deptId, "," + std::to_string(u.deptId) + ","};
}

// ---- workflows -------------------------------------------------------------------

struct StepSpec {
  int id;
  const char* name;
  std::vector<HandlerSpec> handlers;
  const char* editable;
  const char* opinionCell;
  void (*flags)(TStepRecord&);
};

struct LinkSpec {
  int from, to;  // positions in the step list
  const char* condition;
};

TStepRecord MakeStep(const StepSpec& s) {
  TStepRecord r;
  r.id = s.id;
  r.name = Cp936(s.name);
  r.attachmentsReadOnly = 1;
  r.daysToHandle = "3";
  for (const HandlerSpec& h : s.handlers) r.handlers[r.handlerCount++] = Handler(h);
  r.editableCells = Cp936(s.editable);
  r.opinionCell = Cp936(s.opinionCell);
  r.changeState = stepKept;
  if (s.flags) s.flags(r);
  return r;
}

AnsiString JoinComma(const AnsiString& list, const AnsiString& item) { return list.empty() ? item : list + "," + item; }

// Steps stand in the order of the chart's objects; each object carries its step number.
TFlowMessage MakeWorkflow(uint32_t id, const char* name, const char* formFile, const char* titleCell,
                          const char* numberCell, const std::vector<StepSpec>& specs,
                          const std::vector<LinkSpec>& links, const std::vector<std::pair<int, int>>& places) {
  TFlowMessage m;
  m.flowId = id;
  m.compId = 1;
  m.flowName = Cp936(name);
  m.formFile = Cp936(formFile);
  m.database = "oa";
  m.titleCell = Cp936(titleCell);
  m.numberCell = Cp936(numberCell);
  m.distributionType = 3;
  m.formList1 = Cp936((std::string("|") + formFile + "|").c_str());
  for (const StepSpec& s : specs) m.steps.push_back(MakeStep(s));

  TFcChart chart;
  std::vector<TFcObject*> objects;
  for (size_t i = 0; i < specs.size(); ++i) {
    const auto [x, y] = places[i];
    const bool ends = i == 0 || i + 1 == specs.size();
    TFcObject* o = chart.CreateObject(x, y, 140, 44, ends ? stRoundRect : stRectangle);
    o->SetText(m.steps[i].name);
    o->SetStepId(AnsiString(std::to_string(specs[i].id)));
    o->SetBkColor(ends ? TColor(0xE0F0D0) : TColor(0xF8E8D0));
    objects.push_back(o);
  }
  for (const LinkSpec& l : links) {
    TFcConnection* c = chart.CreateConnection(objects[size_t(l.from)], objects[size_t(l.to)], 10, 2);
    c->DestArrow().SetArrowType(atArrow);
    const AnsiString condition = Cp936(l.condition);
    c->SetText(condition);
    TStepRecord& src = m.steps[size_t(l.from)];
    TStepRecord& dst = m.steps[size_t(l.to)];
    src.nextSteps = JoinComma(src.nextSteps, dst.name);
    dst.previousSteps = JoinComma(dst.previousSteps, src.name);
    dst.incomingBranches = src.name + "@" + condition + ";" + dst.incomingBranches;
  }
  TMemoryStream s;
  chart.SaveToStream(s);
  m.chart = s.Data();
  return m;
}

}  // namespace

std::vector<SampleUnit> SampleUnits() {
  return {{1, Cp936("市政府办公室")}, {2, Cp936("市财政局")}, {3, Cp936("市人事局")}};
}

std::vector<SampleDepartment> SampleDepartments() {
  return {{10, 1, 0, Cp936("综合科")},  {11, 1, 10, Cp936("秘书科")}, {12, 1, 0, Cp936("信息中心")},
          {13, 1, 0, Cp936("领导班子")}, {20, 2, 0, Cp936("预算科")},  {21, 2, 0, Cp936("办公室")},
          {30, 3, 0, Cp936("人事科")},   {31, 3, 0, Cp936("办公室")}};
}

std::vector<SampleUser> SampleUsers() {
  auto u = [](const char* id, const char* login, const char* name, int unit, int dept, int role, const char* roleName,
              int duty, const char* dutyName, int level, int flag, const char* groups) {
    return SampleUser{id, login, Cp936(name), unit, dept, role, Cp936(roleName), duty, Cp936(dutyName), level, flag, Cp936(groups)};
  };
  return {
      u("{6F1C2A10-5B3D-4E8F-9A7B-0C1D2E3F4A50}", "admin", "系统管理员", 1, 12, 1, "管理员", 1, "主任", 9, 1, ",系统组,"),
      u("{0D5E7C21-8A44-4B19-B3E2-7F60A1C2D3E4}", "zhangsan", "张三", 1, 10, 2, "科员", 3, "科长", 5, 0, ",科长组,"),
      u("{A3B4C5D6-1E2F-4A5B-8C7D-9E0F1A2B3C4D}", "lisi", "李四", 1, 11, 2, "科员", 4, "副科长", 4, 0, ",科长组,"),
      u("{5C6D7E8F-9A0B-4C1D-9E2F-3A4B5C6D7E8F}", "wangwu", "王五", 2, 20, 3, "审核员", 5, "科员", 2, 0, ","),
      u("{1B2C3D4E-5F60-4718-8293-A4B5C6D7E8F9}", "zhaoliu", "赵六", 1, 13, 4, "领导", 6, "副主任", 7, 0, ",领导组,"),
      u("{2C3D4E5F-6071-4829-93A4-B5C6D7E8F90A}", "sunqi", "孙七", 1, 13, 4, "领导", 1, "主任", 8, 0, ",领导组,"),
      u("{3D4E5F60-7182-493A-A4B5-C6D7E8F90A1B}", "zhouba", "周八", 1, 10, 2, "科员", 5, "科员", 2, 0, ",收发组,"),
      u("{4E5F6071-8293-4A4B-B5C6-D7E8F90A1B2C}", "wujiu", "吴九", 1, 12, 2, "科员", 5, "科员", 2, 0, ","),
      u("{5F607182-93A4-4B5C-86D7-E8F90A1B2C3D}", "zhengshi", "郑十", 2, 20, 2, "科员", 3, "科长", 5, 0, ",科长组,"),
      u("{60718293-A4B5-4C6D-97E8-F90A1B2C3D4E}", "qianyi", "钱一", 2, 21, 2, "科员", 5, "科员", 3, 0, ","),
      u("{718293A4-B5C6-4D7E-A8F9-0A1B2C3D4E5F}", "chener", "陈二", 3, 30, 2, "科员", 3, "科长", 5, 0, ",科长组,"),
      u("{8293A4B5-C6D7-4E8F-B90A-1B2C3D4E5F60}", "linsan", "林三", 3, 31, 2, "科员", 5, "科员", 2, 0, ","),
  };
}

std::vector<TFlowMessage> SampleWorkflows() {
  const auto author = [](TStepRecord& r) {
    r.authorIsHandler = 1;
    r.attachmentsReadOnly = 0;
  };
  const auto review = [](TStepRecord& r) { r.departmentReview = 1; };
  const auto lead = [](TStepRecord& r) { r.allowStepJumps = 1; };
  const auto file = [](TStepRecord& r) {
    r.lockHandlers = 1;
    r.showArchive = 1;
    r.showNumbering = 1;
    r.showDistribute = 1;
    r.eraseRevisions = 1;
  };
  TFlowMessage leave = MakeWorkflow(
      1, "请假审批", "请假单.xls", "标题", "备案编号",
      {{1, "填写申请", {}, "标题,请假类型,开始日期,结束日期,请假天数,日扣款,事由,已销假", "", author},
       // 张三 reviews 秘书科 and 信息中心, 李四 综合科 (张三's own).
       {2, "科室审核", {{"zhangsan", ",11,12,"}, {"lisi", ",10,"}}, "科室意见", "科室意见", review},
       {3, "分管领导审批", {"zhaoliu"}, "领导意见", "领导意见", lead},
       {4, "人事备案", {"chener"}, "备案编号,已销假", "", file}},
      {{0, 1, ""}, {1, 2, "[F][请假天数][>][3]"}, {1, 3, "[F][请假天数][<=][3]"}, {2, 3, ""}},
      {{40, 20}, {40, 110}, {240, 200}, {40, 290}});
  TFlowMessage incoming = MakeWorkflow(
      2, "收文办理", "收文登记单.xls", "标题", "收文编号",
      {{1, "收文登记", {"zhouba"}, "标题,来文单位,来文字号,收文日期,紧急程度,份数,需要回复", "", author},
       {2, "拟办", {"zhangsan"}, "拟办意见", "拟办意见", nullptr},
       {3, "领导批示", {"sunqi", "zhaoliu"}, "领导批示", "领导批示", lead},
       {4, "紧急承办", {"lisi"}, "承办结果", "", nullptr},
       {5, "承办", {"wujiu", "zhouba"}, "承办结果", "", nullptr},
       {6, "归档", {"admin"}, "收文编号", "", file}},
      {{0, 1, ""}, {1, 2, ""}, {2, 3, "[F][紧急程度][=][特急]"}, {2, 4, "[F][紧急程度][<>][特急]"}, {3, 5, ""},
       {4, 5, ""}},
      // The two branches leave 领导批示 wide apart, so their conditions do not overlap.
      {{200, 20}, {200, 100}, {200, 180}, {20, 270}, {380, 270}, {200, 360}});
  return {leave, incoming};
}

std::vector<SampleTemplate> SampleTemplates() {
  SampleTemplate leave;
  leave.name = Cp936("请假单");
  leave.formFile = Cp936("请假单.xls");
  leave.tableName = "oa_leave";
  leave.workflowId = 1;
  leave.titleField = Cp936("标题");
  leave.numberField = Cp936("备案编号");
  leave.sheet = SampleLeaveSheet();
  leave.combos = {{"LEAVETYPE", Cp936("事假\r\n病假\r\n年假\r\n婚假"), "1\r\n2\r\n3\r\n4"}};
  leave.distributionType = 3;  // inside or outside, as the person chooses

  SampleTemplate incoming;
  incoming.name = Cp936("收文登记单");
  incoming.formFile = Cp936("收文登记单.xls");
  incoming.tableName = "oa_incoming";
  incoming.workflowId = 2;
  incoming.titleField = Cp936("标题");
  incoming.numberField = Cp936("收文编号");
  incoming.bodyName = Cp936("收文正文.docx");
  incoming.body = BuildDocx({"[标题]", "来文单位：[来文单位]", "来文字号：[来文字号]", "正文："});
  incoming.sheet = SampleIncomingSheet();
  incoming.signOffMode = 1;
  incoming.attachBelow = 1;
  incoming.maximised = 1;
  return {leave, incoming};
}

std::vector<SampleNumberKind> SampleNumberKinds() {
  return {{1, 1, Cp936("政办发"), 12}, {2, 1, Cp936("政办函"), 3}, {3, 2, Cp936("财预"), 40}, {4, 3, Cp936("人备"), 7}};
}

std::vector<TOpinionPhrase> SamplePhrases() {
  return {{Cp936("同意"), 0}, {Cp936("已阅"), 0}, {Cp936("请办理"), 0}, {Cp936("拟同意，请领导审批"), 1}, {Cp936("请按规定办理"), 1}};
}

}  // namespace oa
