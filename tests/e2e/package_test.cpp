// The Debian package as a user meets it: it holds exactly what the install
// puts in place and names what it needs; installed with apt, CUPS's driver
// list shows every model, the sample prints through a queue made from an
// installed PPD, a ZPL file passes through unchanged, and purging leaves
// none of its files behind.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cups_env.h"

namespace fs = std::filesystem;

namespace {

constexpr char kPackage[] = "zplfilter";

// Runs a Debian tool by its full path in a scratch folder.
ProcessResult run_debian_tool(const std::string& program, const std::vector<std::string>& args,
                              const std::vector<std::string>& env = {})
{
  std::vector<std::string> argv{fs::path(program).filename().string()};
  argv.insert(argv.end(), args.begin(), args.end());
  const TempDir scratch;  // its output files are collected there, apart from any other run's
  return run_program(program, argv, scratch.path, {}, env);
}

// The paths the package file holds, as they land on the system; folders end
// with '/'. Empty after reporting a failure.
std::vector<std::string> package_paths()
{
  const ProcessResult result = run_debian_tool("/usr/bin/dpkg-deb", {"--contents", DEB_FILE});
  std::vector<std::string> paths;
  if (result.status != 0) {
    ADD_FAILURE() << "dpkg-deb --contents: " << result.err;
    return paths;
  }
  // "-rwxr-xr-x root/root  26992 2026-12-08 10:00 ./usr/bin/zplpreview"
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string mode, owner, size, date, time, path;
    fields >> mode >> owner >> size >> date >> time >> path;
    if (path.rfind("./", 0) == 0 && path != "./")
      paths.push_back(path.substr(1));
  }
  return paths;
}

// The files (not folders) among paths.
std::set<std::string> files_of(const std::vector<std::string>& paths)
{
  std::set<std::string> files;
  for (const std::string& path : paths)
    if (path.back() != '/')
      files.insert(path);
  return files;
}

// Every file under stage, as the path it would have on the system.
std::set<std::string> staged_files(const std::string& stage)
{
  std::set<std::string> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(stage))
    if (!entry.is_directory() || entry.is_symlink())
      files.insert("/" + fs::relative(entry.path(), stage).string());
  return files;
}

// One field of the package's control file.
std::string control_field(const std::string& name)
{
  ProcessResult result = run_debian_tool("/usr/bin/dpkg-deb", {"--field", DEB_FILE, name});
  EXPECT_EQ(result.status, 0) << result.err;
  while (!result.out.empty() && result.out.back() == '\n')
    result.out.pop_back();
  return result.out;
}

// The package names of a Depends field, versions and alternatives left out.
std::set<std::string> dependency_names(const std::string& depends)
{
  std::set<std::string> names;
  std::istringstream items(depends);
  for (std::string item; std::getline(items, item, ',');) {
    const size_t start = item.find_first_not_of(' ');
    if (start != std::string::npos)
      names.insert(item.substr(start, item.find_first_of(" (|", start) - start));
  }
  return names;
}

bool package_installed()
{
  const ProcessResult result = run_debian_tool("/usr/bin/dpkg-query", {"-W", "-f=${Status}", kPackage});
  return result.status == 0 && result.out.find("install ok installed") != std::string::npos;
}

// apt-get as an administrator runs it; waits for the package database when
// another apt or dpkg holds it.
ProcessResult apt_get(const std::vector<std::string>& args)
{
  std::vector<std::string> all{"-y", "-q", "-o", "DPkg::Lock::Timeout=300"};
  all.insert(all.end(), args.begin(), args.end());
  return run_debian_tool("/usr/bin/apt-get", all, {"DEBIAN_FRONTEND=noninteractive"});
}

// Purges the package when it goes out of scope, so that a test that fails
// half way leaves the machine as it found it.
struct InstalledPackage {
  bool installed = false;
  ~InstalledPackage()
  {
    if (installed)
      apt_get({"purge", kPackage});
  }
};

TEST(Package, HoldsExactlyWhatTheInstallPutsInPlace)
{
  const TempDir temp;
  const std::string stage = stage_install(temp.path, "/usr");
  ASSERT_FALSE(stage.empty());

  const std::set<std::string> packaged = files_of(package_paths());
  EXPECT_EQ(packaged, staged_files(stage));

  // Where CUPS and Debian look for them.
  const BuildPaths& paths = build_paths();
  for (const TestModel& model : test_models()) {
    EXPECT_EQ(packaged.count(paths.filterDir + "/" + model.installed), 1u) << model.name;
    EXPECT_EQ(packaged.count(ppd_install_dir("/usr") + "/" + model.installed + ".ppd"), 1u) << model.name;
  }
  for (const std::string& file : std::vector<std::string>{
           "/usr/bin/zplpreview", "/usr/bin/zpl-virtual-printer", paths.filterDir + "/zplpass",
           paths.filterDir + "/zplcommand", paths.mimeDir + "/zplfilter.types", paths.mimeDir + "/zplfilter.convs",
           "/usr/share/man/man1/zpl-virtual-printer.1.gz", DOC_DIR "/copyright", DOC_DIR "/changelog.gz",
           DOC_DIR "/README.md"})
    EXPECT_EQ(packaged.count(file), 1u) << file;
}

TEST(Package, NamesItsVersionAndWhatItNeeds)
{
  EXPECT_EQ(control_field("Package"), kPackage);
  EXPECT_EQ(control_field("Version"), PROJECT_VERSION_TEXT);
  EXPECT_EQ(fs::path(DEB_FILE).filename().string(),
            std::string(kPackage) + "_" + PROJECT_VERSION_TEXT + "_" + control_field("Architecture") + ".deb");
  // The libraries come from the programs themselves, cups from the package's
  // own list: without it there is no scheduler to print with.
  const std::set<std::string> depends = dependency_names(control_field("Depends"));
  for (const char* name : {"cups", "libcups2", "zlib1g", "libpng16-16", "libc6", "libstdc++6"})
    EXPECT_EQ(depends.count(name), 1u) << name << " missing from " << control_field("Depends");
}

TEST(Package, InstallsListsEveryModelPrintsAndPurgesCleanly)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "installs the package system-wide: root only";
  if (package_installed())
    GTEST_SKIP() << "zplfilter is installed on this machine; the test would replace and then remove it";
  const std::vector<std::string> paths = package_paths();
  ASSERT_FALSE(paths.empty());
  // What exists before stays; everything the package adds must go again.
  std::vector<std::string> added;
  for (const std::string& path : paths) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (!fs::exists(status))
      added.push_back(path);
    else if (!fs::is_directory(status))
      GTEST_SKIP() << path << " exists and belongs to no zplfilter package; installing would overwrite it";
  }

  InstalledPackage package;
  ProcessResult result = apt_get({"install", "--no-install-recommends", DEB_FILE});
  package.installed = package_installed();
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  ASSERT_TRUE(package.installed);

  // The scheduler runs filters only when root owns them and no one else may
  // write them.
  for (const TestModel& model : test_models()) {
    struct stat info {};
    const std::string filter = build_paths().filterDir + "/" + model.installed;
    ASSERT_EQ(stat(filter.c_str(), &info), 0) << filter;
    EXPECT_EQ(info.st_mode & 07777, 0755u) << filter;
    EXPECT_EQ(info.st_uid, 0u) << filter;
  }

  {
    const TempDir temp;
    ASSERT_TRUE(make_public_dir(temp.path));
    PrivateCupsd daemon;
    ASSERT_TRUE(start_cupsd(daemon, temp.path, CUPS_SERVERBIN, CUPS_DATADIR));
    expect_installed_driver(daemon, temp.path, "lsb/usr/zplfilter/");
  }

  // The filters' log is made as they run, not unpacked: purging removes it
  // as well. (The scheduler's filters run as lp and seldom may write it.)
  // Its folder comes with CUPS; without it there would be nothing to check.
  ASSERT_TRUE(fs::is_directory(fs::path(LOG_PATH).parent_path())) << LOG_PATH;
  if (!fs::exists(LOG_PATH)) {
    ASSERT_TRUE(write_file(LOG_PATH, "a log the filters wrote\r\n"));
  }
  result = apt_get({"purge", kPackage});
  package.installed = package_installed();
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_FALSE(package.installed);
  for (const std::string& path : added) {
    std::error_code ec;
    EXPECT_FALSE(fs::exists(fs::symlink_status(path, ec))) << path << " is left behind";
  }
  EXPECT_FALSE(fs::exists(LOG_PATH)) << LOG_PATH " is left behind";
}

}  // namespace
