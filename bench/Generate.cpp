// tarvo-bench-gen: writes the inputs of bench/run into a scratch folder.
// Security files are signed here with the program's own checksum code
// (CRepositoryMgr::SaveXMLWithHash), through the host that $TARVO_HOST
// names, so they load exactly as a shipped file does.
//
//   tarvo-bench-gen secfiles DIR PRODUCTS FILES_PER_PRODUCT FEATURES RESOURCE_DIR
//                   [--wua-only] [--moment before|after] [--installation-moment 0|1]
//       DIR/secfiles/*.xml and DIR/OPFile.ini naming them (logs go to DIR/logs/)
//   tarvo-bench-gen history FILE SETUPS
//       a history document of SETUPS entries (UTF-16, as the program saves it)
//   tarvo-bench-gen bigfile FILE BYTES
//       one signed security file of at least BYTES bytes of text
//   tarvo-bench-gen tree DIR ENTRIES FANOUT DEPTH
//       a tree of ENTRIES files and folders below DIR (a Linux folder); prints
//       the path of a file in its deepest folder, relative to DIR
//   tarvo-bench-gen treefeature DIR FOLDER GROUP RESOURCE_DIR
//       DIR/secfiles/tree.xml rewriting the permissions of the tree below FOLDER
//       (a Windows path) and DIR/OPFile.ini naming it (logs go to DIR/logs/)
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchInputs.h"
#include "infra/ErrorMgr.h"
#include "platform/host/Host.h"
#include "platform/text/Text.h"
#include "platform/xml/Dom.h"
#include "securityfiles/RepositoryMgr.h"

namespace fs = std::filesystem;

namespace {

struct Session {
  std::unique_ptr<host::Host> host;
  std::string WindowsPath(const fs::path& linuxPath) const {
    return host->Paths().WindowsPathOf(fs::absolute(linuxPath).lexically_normal().string());
  }
};

bool OpenHost(Session* session) {
  std::string error;
  session->host = host::Host::Open(host::Host::DefaultFolder(), host::OpenOptions{}, &error);
  if (!session->host) {
    std::cerr << "tarvo-bench-gen: cannot open the host: " << error << "\n";
    return false;
  }
  plat::Install(session->host.get());
  return true;
}

bool WriteBytes(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// The OPFile in UTF-16LE with a byte-order mark, as setups write it.
bool WriteOpFile(const fs::path& path, const bench::OpFileShape& shape) {
  const std::string ini = bench::OpFileText(shape);
  return WriteBytes(path, std::string(text::kUtf16LeBom) + text::Utf16ToUtf16LeBytes(text::Utf8ToUtf16(ini)));
}

// Loads the text and saves it signed, in the encoding its declaration names.
bool WriteSigned(const Session& session, const fs::path& path, const std::string& text) {
  const xml::Document document = xml::Document::Create();
  if (!document.LoadXml(text)) {
    std::cerr << "tarvo-bench-gen: generated text does not load: " << document.GetParseError().reason << "\n";
    return false;
  }
  fs::create_directories(path.parent_path());
  CErrorMgr errorMgr;
  if (!CRepositoryMgr::SaveXMLWithHash(errorMgr, document, session.WindowsPath(path))) {
    std::cerr << "tarvo-bench-gen: cannot sign " << path << "\n";
    return false;
  }
  return true;
}

struct SecFilesRequest {
  fs::path dir;
  int products = 0;
  int filesPerProduct = 0;
  int features = 0;
  std::string resourceDir;
  bool wuaOnly = false;
  std::string wuaMoment = "AfterInstallation";
  int installationMoment = 1;
};

bool ParseSecFiles(const std::vector<std::string>& args, SecFilesRequest* r) {
  if (args.size() < 6) return false;
  r->dir = args[1];
  r->products = std::stoi(args[2]);
  r->filesPerProduct = std::stoi(args[3]);
  r->features = std::stoi(args[4]);
  r->resourceDir = args[5];
  for (size_t i = 6; i < args.size(); ++i) {
    if (args[i] == "--wua-only") {
      r->wuaOnly = true;
    } else if (args[i] == "--moment" && i + 1 < args.size()) {
      r->wuaMoment = args[++i] == "before" ? "BeforeInstallation" : "AfterInstallation";
    } else if (args[i] == "--installation-moment" && i + 1 < args.size()) {
      r->installationMoment = std::stoi(args[++i]);
    } else {
      return false;
    }
  }
  return r->products > 0 && r->filesPerProduct > 0 && r->features >= 0;
}

std::string FileName(int product, int file) {
  std::string name = "p";
  name.append(std::to_string(product)).append("_f").append(std::to_string(file)).append(".xml");
  return name;
}

int GenerateSecFiles(const Session& session, const SecFilesRequest& r) {
  bench::OpFileShape opfile;
  opfile.resourcePath = session.WindowsPath(r.resourceDir);
  opfile.logfilePath = session.WindowsPath(r.dir / "logs") + "\\";
  opfile.installationMoment = r.installationMoment;
  fs::create_directories(r.dir / "logs");
  for (int p = 0; p < r.products; ++p) {
    bench::OpFileProduct product;
    product.upgradeCode = bench::GuidText(static_cast<unsigned>(1000 + p));
    product.installDir = "C:\\Program Files\\Bench Product " + std::to_string(p + 1);
    for (int f = 0; f < r.filesPerProduct; ++f) {
      bench::SecurityFileShape shape;
      shape.productValue = "Bench Product " + std::to_string(p + 1) + " Part " + std::to_string(f + 1);
      shape.features = r.features;
      shape.wuaOnly = r.wuaOnly;
      shape.wuaMoment = r.wuaMoment;
      shape.utf16 = (p * r.filesPerProduct + f) % 4 == 3;  // a quarter in UTF-16, as some setups ship them
      const fs::path file = r.dir / "secfiles" / FileName(p + 1, f + 1);
      if (!WriteSigned(session, file, bench::SecurityFileText(shape))) return 1;
      product.securityFiles.push_back(session.WindowsPath(file));
    }
    opfile.products.push_back(product);
  }
  return WriteOpFile(r.dir / "OPFile.ini", opfile) ? 0 : 1;
}

// Saved through the program's own serializer, as ApplyFeatures leaves it.
int GenerateHistory(const Session& session, const std::vector<std::string>& args) {
  if (args.size() != 3) return 2;
  const xml::Document document = xml::Document::Create();
  if (!document.LoadXml(bench::HistoryText(std::stoi(args[2])))) return 1;
  fs::create_directories(fs::path(args[1]).parent_path());
  if (document.Save(session.WindowsPath(args[1])) != xml::kOk) {
    std::cerr << "tarvo-bench-gen: cannot save " << args[1] << "\n";
    return 1;
  }
  return 0;
}

int GenerateBigFile(const Session& session, const std::vector<std::string>& args) {
  if (args.size() != 3) return 2;
  const size_t bytes = std::stoul(args[2]);
  bench::SecurityFileShape shape;
  shape.productValue = "Bench Big Product";
  // Grow the feature count until the text reaches the size asked for.
  shape.features = 20;
  while (bench::SecurityFileText(shape).size() < bytes) shape.features *= 2;
  return WriteSigned(session, args[1], bench::SecurityFileText(shape)) ? 0 : 1;
}

// Folders FANOUT wide down to DEPTH levels, the entries left over as empty
// files spread evenly over every folder (DIR included, the first folders
// taking one more), so that the tree holds exactly ENTRIES entries.
int GenerateTree(const std::vector<std::string>& args) {
  if (args.size() != 5) return 2;
  const fs::path root = args[1];
  const size_t entries = std::stoul(args[2]);
  const int fanout = std::stoi(args[3]);
  const int depth = std::stoi(args[4]);
  std::vector<fs::path> folders = {fs::path()};  // relative to root, level by level
  size_t levelStart = 0;
  for (int level = 0; level < depth; ++level) {
    const size_t levelEnd = folders.size();
    for (size_t i = levelStart; i < levelEnd; ++i) {
      for (int d = 0; d < fanout; ++d) folders.push_back(folders[i] / ("dir" + std::to_string(d)));
    }
    levelStart = levelEnd;
  }
  const size_t subfolders = folders.size() - 1;
  if (entries < subfolders + folders.size()) {
    std::cerr << "tarvo-bench-gen: a tree " << fanout << " wide and " << depth << " deep needs at least "
              << subfolders + folders.size() << " entries (a file in every folder)\n";
    return 1;
  }
  const size_t files = entries - subfolders;
  for (size_t i = 0; i < folders.size(); ++i) {
    const fs::path folder = root / folders[i];
    fs::create_directories(folder);
    const size_t count = files / folders.size() + (i < files % folders.size() ? 1 : 0);
    for (size_t f = 0; f < count; ++f) {
      if (!std::ofstream(folder / ("file" + std::to_string(f) + ".dat"))) {
        std::cerr << "tarvo-bench-gen: cannot write a file in " << folder << "\n";
        return 1;
      }
    }
  }
  std::cout << (folders.back() / "file0.dat").generic_string() << "\n";
  return 0;
}

int GenerateTreeFeature(const Session& session, const std::vector<std::string>& args) {
  if (args.size() != 5) return 2;
  const fs::path dir = args[1];
  const fs::path file = dir / "secfiles" / "tree.xml";
  if (!WriteSigned(session, file, bench::TreePermissionFileText(args[2], args[3]))) return 1;
  bench::OpFileShape opfile;
  opfile.resourcePath = session.WindowsPath(args[4]);
  opfile.logfilePath = session.WindowsPath(dir / "logs") + "\\";
  opfile.installationMoment = 1;  // after the installation, the feature's adaption moment
  bench::OpFileProduct product;
  product.upgradeCode = bench::GuidText(3000);
  product.installDir = "C:\\Program Files\\Bench Tree Product";
  product.securityFiles.push_back(session.WindowsPath(file));
  opfile.products.push_back(product);
  fs::create_directories(dir / "logs");
  return WriteOpFile(dir / "OPFile.ini", opfile) ? 0 : 1;
}

int Usage() {
  std::cerr << "usage: tarvo-bench-gen secfiles DIR PRODUCTS FILES_PER_PRODUCT FEATURES RESOURCE_DIR\n"
               "                       [--wua-only] [--moment before|after] [--installation-moment 0|1]\n"
               "       tarvo-bench-gen history FILE SETUPS\n"
               "       tarvo-bench-gen bigfile FILE BYTES\n"
               "       tarvo-bench-gen tree DIR ENTRIES FANOUT DEPTH\n"
               "       tarvo-bench-gen treefeature DIR FOLDER GROUP RESOURCE_DIR\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  if (args[0] == "tree") {
    const int rc = GenerateTree(args);
    return rc == 2 ? Usage() : rc;
  }
  Session session;
  if (!OpenHost(&session)) return 1;
  if (args[0] == "history") {
    const int rc = GenerateHistory(session, args);
    return rc == 2 ? Usage() : rc;
  }
  if (args[0] == "secfiles") {
    SecFilesRequest request;
    if (!ParseSecFiles(args, &request)) return Usage();
    return GenerateSecFiles(session, request);
  }
  if (args[0] == "treefeature") {
    const int rc = GenerateTreeFeature(session, args);
    return rc == 2 ? Usage() : rc;
  }
  if (args[0] == "bigfile") {
    const int rc = GenerateBigFile(session, args);
    return rc == 2 ? Usage() : rc;
  }
  return Usage();
}
