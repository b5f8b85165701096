// The built shared object: it exports the C API and nothing else, every
// function the header declares among them, under a versioned soname.

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "EmbedTestPaths.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace {

std::string Output(const std::string& program, std::vector<std::string> args) {
  testing_support::ChildProcess child(program, std::move(args));
  std::string text;
  for (const std::string& line : child.ReadToEnd()) text += line + "\n";
  EXPECT_EQ(child.Wait(), 0) << program;
  return text;
}

// The names the library defines in its dynamic symbol table.
std::set<std::string> Exported() {
  std::set<std::string> names;
  std::istringstream in(Output("/usr/bin/nm", {"-D", "--defined-only", PLAYDLL_LIBRARY}));
  std::string address, type, name;
  while (in >> address >> type >> name)
    if (type != "A") names.insert(name.substr(0, name.find('@')));  // "A": the version node itself
  return names;
}

// The functions playdll.h declares.
std::set<std::string> Declared() {
  const std::string header = testing_support::ReadText(PLAY_SOURCE_DIR "/embed/playdll.h");
  const std::regex declared(R"(PLAYDLL_API[^;(]*\b(playdll_\w+)\()");
  std::set<std::string> names;
  for (auto it = std::sregex_iterator(header.begin(), header.end(), declared); it != std::sregex_iterator(); ++it)
    names.insert((*it)[1]);
  return names;
}

TEST(ExportsTest, TheLibraryExportsOnlyPlaydllFunctionsAndEveryOneTheHeaderDeclares) {
  const std::set<std::string> exported = Exported();
  for (const std::string& name : exported) EXPECT_EQ(name.rfind("playdll_", 0), 0u) << name;
  const std::set<std::string> declared = Declared();
  EXPECT_GT(declared.size(), 30u);
  EXPECT_EQ(exported, declared);
}

TEST(ExportsTest, TheLibraryCarriesTheVersionedSonameItsSymbolsAreVersionedWith) {
  EXPECT_NE(Output("/usr/bin/readelf", {"-d", PLAYDLL_LIBRARY}).find("Library soname: [libplaydll.so.1]"),
            std::string::npos);
  EXPECT_NE(Output("/usr/bin/nm", {"-D", "--defined-only", PLAYDLL_LIBRARY}).find("playdll_create@@PLAYDLL_1"),
            std::string::npos);
}

}  // namespace
