#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <thread>

#include "TestUtil.h"
#include "platform/Registry.h"
#include "platform/com/Registration.h"

namespace {

const char* kKey = "HKEY_CLASSES_ROOT\\CLSID\\{11111111-2222-3333-4444-555555555555}";

TEST(Registry, SaveAndLoadKeepKeysValuesAndOddBytes) {
  TempDir dir;
  Registry r(dir.File("sub/registry.ini"));
  r.WriteString(kKey, "", "TarvoX Control");
  r.WriteString(std::string(kKey) + "\\InprocServer32", "ThreadingModel", "Apartment");
  r.WriteString("HKCU\\Software\\Tarvo", "Odd \"name\"", std::string("a\\b\"c\r\n\t\x01\xD6\xD0", 11));
  r.WriteDWord("HKCU\\Software\\Tarvo", "Flags", 0x12000);
  r.Save();

  Registry back(r.Path());
  back.Load();
  EXPECT_EQ(back.Serialize(), r.Serialize());
  EXPECT_EQ(back.ReadString(kKey, ""), "TarvoX Control");
  // Names are matched without regard to case and the root may be abbreviated.
  EXPECT_EQ(back.ReadString("hkcr\\clsid\\{11111111-2222-3333-4444-555555555555}\\inprocserver32",
                            "THREADINGMODEL"),
            "Apartment");
  EXPECT_EQ(back.ReadString("HKEY_CURRENT_USER\\Software\\Tarvo", "Odd \"name\""),
            std::string("a\\b\"c\r\n\t\x01\xD6\xD0", 11));
  EXPECT_EQ(back.ReadDWord("HKCU\\Software\\Tarvo", "flags"), 0x12000u);
  EXPECT_EQ(back.ReadString("HKCU\\Software\\Tarvo", "Flags"), "73728");
  EXPECT_EQ(back.ReadString("HKCU\\Software\\Tarvo", "Missing", "def"), "def");
  // Parents of a written key exist and list their children as written.
  EXPECT_TRUE(back.KeyExists("HKEY_CLASSES_ROOT\\CLSID"));
  EXPECT_EQ(back.SubKeys(kKey), std::vector<std::string>{"InprocServer32"});
  // No temporary file is left beside the registry.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("sub")), {}), 1);
}

TEST(Registry, DeleteKeyRemovesSubtreeOnly) {
  Registry r("/nonexistent");
  r.WriteString(std::string(kKey) + "\\InprocServer32", "", "lib.so");
  r.WriteString(std::string(kKey) + "\\ProgID", "", "TarvoProj.TarvoX");
  r.WriteString("HKEY_CLASSES_ROOT\\CLSID\\{11111111-2222-3333-4444-555555555556}", "", "other");
  EXPECT_TRUE(r.DeleteKey(kKey));
  EXPECT_FALSE(r.KeyExists(std::string(kKey) + "\\ProgID"));
  EXPECT_FALSE(r.KeyExists(kKey));
  EXPECT_EQ(r.ReadString("HKEY_CLASSES_ROOT\\CLSID\\{11111111-2222-3333-4444-555555555556}", ""), "other");
  EXPECT_FALSE(r.DeleteKey(kKey));
  EXPECT_TRUE(r.DeleteValue("HKEY_CLASSES_ROOT\\CLSID\\{11111111-2222-3333-4444-555555555556}", ""));
  EXPECT_FALSE(r.DeleteValue("HKEY_CLASSES_ROOT\\CLSID\\{11111111-2222-3333-4444-555555555556}", ""));
}

TEST(Registry, RejectsInvalidKeyNames) {
  Registry r("/nonexistent");
  EXPECT_THROW(r.WriteString("", "", "x"), ERegistryException);
  EXPECT_THROW(r.WriteString("HKEY_NOWHERE\\x", "", "x"), ERegistryException);
  EXPECT_THROW(r.WriteString("HKCU\\a\\\\b", "", "x"), ERegistryException);
  EXPECT_THROW(r.WriteString("HKCU\\a\nb", "", "x"), ERegistryException);
  EXPECT_THROW(r.WriteString("HKCU\\a\\", "", "x"), ERegistryException);
}

TEST(Registry, MissingFileIsEmpty) {
  TempDir dir;
  Registry r(dir.File("none.ini"));
  r.WriteString("HKCU\\x", "", "stale");
  r.Load();
  EXPECT_FALSE(r.KeyExists("HKCU\\x"));
}

// A corrupt file is reported with its line, and neither the registry in memory nor the
// file on disk loses what it held.
TEST(Registry, CorruptFilesAreRefusedWithoutLoss) {
  const std::string good = "TarvoRegistry 1\n[HKCU\\Software]\n@=\"ok\"\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"garbage", "\x7F" "ELF\x02\x01\x01"},
      {"no header", "[HKCU\\Software]\n@=\"x\"\n"},
      {"unterminated string", good + "\"a\"=\"never closed\n"},
      {"bad escape", good + "\"a\"=\"\\q\"\n"},
      {"bad dword", good + "\"a\"=dword:xyz\n"},
      {"long dword", good + "\"a\"=dword:123456789\n"},
      {"trailing text", good + "\"a\"=\"b\" junk\n"},
      {"value before key", "TarvoRegistry 1\n@=\"x\"\n"},
      {"bad key", good + "[HKCU\\\\x]\n"},
      {"unterminated key", good + "[HKCU\\x\n"},
      {"missing equals", good + "\"a\" \"b\"\n"},
      {"nul byte", good + std::string("\"a\"=\"b\0\"\n", 9)},
  };
  for (const auto& [what, text] : cases) {
    SCOPED_TRACE(what);
    TempDir dir;
    const std::string path = dir.File("registry.ini");
    WriteFile(path, text);
    Registry r(path);
    r.WriteString("HKCU\\Kept", "", "before");
    try {
      r.Load();
      ADD_FAILURE() << "loaded";
    } catch (const ERegistryException& e) {
      EXPECT_NE(e.Message().find("corrupt"), std::string::npos) << e.Message();
      EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
    }
    EXPECT_EQ(r.ReadString("HKCU\\Kept", ""), "before");
    EXPECT_EQ(ReadFile(path), text);
  }
}

// Mutated files either load and write back to text that loads to the same registry, or
// are refused with the registry's own error; nothing else may happen.
TEST(Registry, MutatedFilesLoadConsistentlyOrAreRefused) {
  Registry seed("/nonexistent");
  seed.WriteString("HKCR\\CLSID\\{A}\\InprocServer32", "", "/lib/x.so");
  seed.WriteString("HKCR\\CLSID\\{A}\\InprocServer32", "ThreadingModel", "Apartment");
  seed.WriteString("HKCU\\S", "t", std::string("q\"\\\r\n\x01\xB0\xA1", 9));
  seed.WriteDWord("HKCU\\S", "d", 0xDEADBEEF);
  const std::string base = seed.Serialize();
  std::mt19937 rng(1234);
  int loaded = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string text = base;
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      size_t at = rng() % (text.size() + 1);
      switch (rng() % 3) {
        case 0: if (at < text.size()) text[at] = static_cast<char>(rng()); break;
        case 1: text.insert(at, 1, "[]\\\"=@:\n\rx"[rng() % 11]); break;
        case 2: if (at < text.size()) text.erase(at, 1 + rng() % 8); break;
      }
    }
    Registry r("/nonexistent");
    try {
      r.Parse(text);
    } catch (const ERegistryException&) {
      continue;
    }
    ++loaded;
    Registry again("/nonexistent");
    ASSERT_NO_THROW(again.Parse(r.Serialize())) << text;
    ASSERT_EQ(again.Serialize(), r.Serialize()) << text;
  }
  EXPECT_GT(loaded, 100);  // the mutations must also reach the accepting paths
}

TEST(Registry, RegistrationRefusesCorruptFileAndKeepsIt) {
  TempDir dir;
  const std::string path = dir.File("registry.ini");
  WriteFile(path, "not a registry");
  ServerRegistration reg;
  reg.clsid = CreateGuid();
  std::string message;
  EXPECT_EQ(RegisterServer(reg, path, &message), SELFREG_E_CLASS);
  EXPECT_NE(message.find("corrupt"), std::string::npos);
  EXPECT_EQ(ReadFile(path), "not a registry");
}

ServerRegistration Sample() {
  ServerRegistration reg;
  TryStringToGUID("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}", reg.clsid);
  TryStringToGUID("{1A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}", reg.typeLibId);
  reg.description = "TarvoX Control";
  reg.progId = "TarvoProj.TarvoX";
  reg.libraryPath = "/opt/tarvo/libTarvoProj.so";
  reg.miscStatus = 0x12000;
  reg.typeLibHelp = "TarvoProj Library";
  InterfaceRegistration i;
  TryStringToGUID("{2A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}", i.iid);
  i.name = "ITarvoX";
  reg.interfaces.push_back(i);
  return reg;
}

TEST(Registration, WritesExactlyTheServerKeys) {
  TempDir dir;
  const std::string path = dir.File("registry.ini");
  ASSERT_EQ(RegisterServer(Sample(), path), S_OK);
  EXPECT_EQ(ReadFile(path),
            "TarvoRegistry 1\n"
            "\n[HKEY_CLASSES_ROOT]\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID]\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}]\n@=\"TarvoX Control\"\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\Control]\n@=\"\"\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\InprocServer32]\n"
            "@=\"/opt/tarvo/libTarvoProj.so\"\n\"ThreadingModel\"=\"Apartment\"\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\MiscStatus]\n@=\"0\"\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\MiscStatus\\1]\n@=\"73728\"\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\ProgID]\n@=\"TarvoProj.TarvoX\"\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\ToolboxBitmap32]\n"
            "@=\"/opt/tarvo/libTarvoProj.so,1\"\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\TypeLib]\n"
            "@=\"{1A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\"\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\Version]\n@=\"1.0\"\n"
            "\n[HKEY_CLASSES_ROOT\\Interface]\n"
            "\n[HKEY_CLASSES_ROOT\\Interface\\{2A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}]\n@=\"ITarvoX\"\n"
            "\n[HKEY_CLASSES_ROOT\\Interface\\{2A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\TypeLib]\n"
            "@=\"{1A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\"\n\"Version\"=\"1.0\"\n"
            "\n[HKEY_CLASSES_ROOT\\TarvoProj.TarvoX]\n@=\"TarvoX Control\"\n"
            "\n[HKEY_CLASSES_ROOT\\TarvoProj.TarvoX\\Clsid]\n@=\"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\"\n"
            "\n[HKEY_CLASSES_ROOT\\TypeLib]\n"
            "\n[HKEY_CLASSES_ROOT\\TypeLib\\{1A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}]\n"
            "\n[HKEY_CLASSES_ROOT\\TypeLib\\{1A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\1.0]\n@=\"TarvoProj Library\"\n"
            "\n[HKEY_CLASSES_ROOT\\TypeLib\\{1A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\1.0\\0]\n"
            "\n[HKEY_CLASSES_ROOT\\TypeLib\\{1A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\1.0\\0\\linux]\n"
            "@=\"/opt/tarvo/libTarvoProj.so\"\n"
            "\n[HKEY_CLASSES_ROOT\\TypeLib\\{1A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\1.0\\FLAGS]\n@=\"0\"\n"
            "\n[HKEY_CLASSES_ROOT\\TypeLib\\{1A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\1.0\\HELPDIR]\n"
            "@=\"/opt/tarvo\"\n");

  Registry r(path);
  r.Load();
  InprocServerInfo info;
  ASSERT_TRUE(FindInprocServer(r, Sample().clsid, info));
  EXPECT_EQ(info.library, "/opt/tarvo/libTarvoProj.so");
  EXPECT_EQ(info.threadingModel, "Apartment");
  EXPECT_EQ(info.miscStatus, 0x12000u);
  TGUID byProgId;
  ASSERT_TRUE(ClsidFromProgId(r, "tarvoproj.tarvox", byProgId));
  EXPECT_EQ(byProgId, Sample().clsid);
}

TEST(Registration, UnregisterRemovesOnlyWhatRegisterWrote) {
  TempDir dir;
  const std::string path = dir.File("registry.ini");
  Registry before(path);
  before.WriteString("HKCU\\Software\\Other", "", "keep");
  before.WriteString("HKEY_CLASSES_ROOT\\CLSID\\{9A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\InprocServer32", "", "x.so");
  before.Save();

  ASSERT_EQ(RegisterServer(Sample(), path), S_OK);
  ASSERT_EQ(RegisterServer(Sample(), path), S_OK);  // twice is the same as once
  ASSERT_EQ(UnregisterServer(Sample(), path), S_OK);
  Registry after(path);
  after.Load();
  InprocServerInfo info;
  EXPECT_FALSE(FindInprocServer(after, Sample().clsid, info));
  TGUID g;
  EXPECT_FALSE(ClsidFromProgId(after, "TarvoProj.TarvoX", g));
  EXPECT_FALSE(after.KeyExists("HKEY_CLASSES_ROOT\\TypeLib\\{1A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}"));
  EXPECT_FALSE(after.KeyExists("HKEY_CLASSES_ROOT\\Interface\\{2A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}"));
  EXPECT_EQ(after.ReadString("HKCU\\Software\\Other", ""), "keep");
  EXPECT_EQ(after.ReadString("HKEY_CLASSES_ROOT\\CLSID\\{9A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\InprocServer32", ""),
            "x.so");
  // A second unregistration finds nothing to remove and still succeeds.
  EXPECT_EQ(UnregisterServer(Sample(), path), S_OK);
}

}  // namespace

namespace {

// Registrations racing on one file (two installers at once) lose none of each other's keys.
TEST(Registration, ConcurrentRegistrationsKeepEachOther) {
  TempDir dir;
  const std::string path = dir.File("registry.ini");
  std::vector<ServerRegistration> regs(4, Sample());
  for (size_t i = 0; i < regs.size(); ++i) {
    regs[i].clsid = CreateGuid();
    regs[i].typeLibId = CreateGuid();
    regs[i].progId = "Race.Server" + std::to_string(i);
    regs[i].interfaces.clear();
  }
  std::vector<std::thread> threads;
  for (const ServerRegistration& reg : regs) {
    threads.emplace_back([&path, reg] {
      for (int k = 0; k < 40; ++k) EXPECT_EQ(RegisterServer(reg, path), S_OK);
    });
  }
  for (auto& t : threads) t.join();
  Registry r(path);
  r.Load();
  for (const ServerRegistration& reg : regs) {
    InprocServerInfo info;
    EXPECT_TRUE(FindInprocServer(r, reg.clsid, info)) << reg.progId;
  }
}

}  // namespace
