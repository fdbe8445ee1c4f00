// Runs at the same time on one host: two ApplyFeatures of many products
// each, started together, several rounds. Both histories must be complete
// and every stored copy registered. TARVO_CONCURRENT_PRODUCTS and
// TARVO_CONCURRENT_ROUNDS make the run longer than the suite's short one.
#include <cstdlib>
#include <filesystem>
#include <future>

#include "cli/FeatureRunFixture.h"

namespace {

int FromEnvironment(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

class ConcurrentRunsTest : public FeatureRunTest {
 protected:
  // An OPFile of `products` products, each with a security file of its own.
  std::string WriteRun(int run, int round, int products) {
    Sections sections;
    for (int p = 1; p <= products; ++p) {
      const std::string file = "C:\\sec\\r" + std::to_string(run) + "_" + std::to_string(round) + "_" +
                               std::to_string(p) + ".xml";
      WriteSecurityFile(file, Wua("pause", "adaptionmoment=\"AfterInstallation\""), ProductName(run, round, p));
      sections.push_back({"Product" + std::to_string(p), Product("{P" + std::to_string(p) + "}", {file})});
    }
    std::vector<std::string> general = General({"InstallationMoment=1"});
    general[0] = "SessionID=" + SessionId(run, round);
    sections.insert(sections.begin(), {"GENERAL", general});
    const std::string opFile = "C:\\setup\\op" + std::to_string(run) + ".ini";
    host_.WriteHostFile(opFile, Utf16FileBytes(MakeOpFileText(sections)));
    return opFile;
  }
  static std::string ProductName(int run, int round, int p) {
    return "Run" + std::to_string(run) + " Round" + std::to_string(round) + " Product" + std::to_string(p);
  }
  static std::string SessionId(int run, int round) {
    return "Session" + std::to_string(run) + "_" + std::to_string(round);
  }
  std::future<ProgramResult> Start(const std::string& opFile) {
    return std::async(std::launch::async, [this, opFile] {
      return RunProgram(BinaryPath("tarvo"), {"ApplyFeatures", opFile}, {{"TARVO_HOST", host_.Folder()}}, "", 300000);
    });
  }
};

TEST_F(ConcurrentRunsTest, TwoRunsAtOnceLoseNothing) {
  const int products = FromEnvironment("TARVO_CONCURRENT_PRODUCTS", 12);
  const int rounds = FromEnvironment("TARVO_CONCURRENT_ROUNDS", 2);
  for (int round = 1; round <= rounds; ++round) {
    const std::string first = WriteRun(1, round, products);
    const std::string second = WriteRun(2, round, products);
    std::future<ProgramResult> a = Start(first);
    std::future<ProgramResult> b = Start(second);
    const ProgramResult resultA = a.get();
    const ProgramResult resultB = b.get();
    ASSERT_EQ(resultA.exitCode, 0) << resultA.out << resultA.err << Log();
    ASSERT_EQ(resultB.exitCode, 0) << resultB.out << resultB.err << Log();
  }

  const std::string history = DocumentText(std::string(kRepository) + "History.xml");
  const std::string repository = DocumentText(std::string(kRepository) + "TarvoRepository.xml");
  for (int round = 1; round <= rounds; ++round) {
    for (int run = 1; run <= 2; ++run) {
      EXPECT_EQ(Count(history, "<t:Setup SessionId=\"" + SessionId(run, round) + "\">"), 1u);
      for (int p = 1; p <= products; ++p) {
        EXPECT_EQ(Count(history, "<t:Product name=\"" + ProductName(run, round, p) + "\""), 1u)
            << ProductName(run, round, p);
        EXPECT_EQ(Count(repository, "originalname=\"C:\\sec\\r" + std::to_string(run) + "_" +
                                        std::to_string(round) + "_" + std::to_string(p) + ".xml\""),
                  1u);
      }
    }
  }
  // Every file in the repository folder is one of its own or a registered copy.
  size_t copies = 0;
  for (const auto& entry : std::filesystem::directory_iterator(host_.HostPath(kRepository))) {
    const std::string name = entry.path().filename().string();
    if (name == "TarvoRepository.xml" || name == "History.xml" || name == "Tarvo.log" || name == "Tarvo.lock") continue;
    ++copies;
    EXPECT_EQ(Count(repository, "secfilename=\"" + std::string(kRepository) + name + "\""), 1u) << name;
  }
  EXPECT_EQ(copies, static_cast<size_t>(2 * rounds * products));
}

// A copy stored by a run that stopped before registering it is taken over
// by the next run, not kept beside a new one.
TEST_F(ConcurrentRunsTest, AnUnregisteredCopyOfTheProductIsTakenOver) {
  WriteSecurityFile("C:\\sec\\a.xml", Wua("pause", "adaptionmoment=\"AfterInstallation\""));
  host_.Platform().Files().MakeDirectory("C:\\Windows\\Security\\Kelmar");
  WriteSecurityFile(std::string(kRepository) + "Plant Viewer.xml", Wua("resume"));
  WriteSecurityFile(std::string(kRepository) + "Other.xml", Wua("resume"), "Other");
  WriteOpFile(General({"InstallationMoment=1"}), {{"Product1", Product("{A}", {"C:\\sec\\a.xml"})}});
  ASSERT_EQ(Tarvo("ApplyFeatures").exitCode, 0) << Log();

  const std::string repository = DocumentText(std::string(kRepository) + "TarvoRepository.xml");
  EXPECT_EQ(Count(repository, "secfilename=\"C:\\Windows\\Security\\Kelmar\\Plant Viewer.xml\""), 1u) << repository;
  EXPECT_FALSE(Exists(std::string(kRepository) + "Plant Viewer_0.xml"));
  EXPECT_NE(DocumentText(std::string(kRepository) + "Plant Viewer.xml").find("value=\"pause\""), std::string::npos);
  EXPECT_TRUE(Exists(std::string(kRepository) + "Other.xml"));  // another product's file is left alone
}

}  // namespace
