#include "publish/command_line.h"

#include <charconv>
#include <utility>

#include "publish/list_names.h"
#include "publish/verify.h"
#include "release/release_manifest.h"

namespace publish {

namespace {

constexpr size_t kPositionalCount = 2;

template <typename Number>
bool ParseWhole(const std::string& text, Number* number) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, *number);
  return !text.empty() && error == std::errc() && stop == end;
}

}  // namespace

std::string UsageText() {
  return R"(Usage: velkaris-publish BUILD_FOLDER RELEASE_TREE [options]
       velkaris-publish --verify RELEASE_TREE [--manifest FILE] [--code-page N]

Updates RELEASE_TREE, the folder the download server serves as /UploadData/,
from the patcher build in BUILD_FOLDER: writes every file whose content
changed under a temporary name, renames them all into place in one burst,
then writes patcher_files_version, then patcher_version, so players fetching
meanwhile never see a version that announces files not yet there. Run it
again after an interruption and it finishes the job. One run at a time per
tree: a second one stops at once (exit code 8).

BUILD_FOLDER holds )" + Printable(kPatcherFileName) + R"(, the launcher copy
)" + Printable(kLauncherFileName) + R"( (optional unless signing), and the accompanying files,
at the top or in "locales"; every accompanying file goes into
patcher_files_version. Links
are followed only to files inside BUILD_FOLDER. A file whose content changed
gets its number raised by one, a new file starts at 1; patcher_version's
first number rises by one when the patcher or a listed file changed.
Numbers never go down: they rise past both the tree's and the manifest's,
and a file whose copy in the tree was changed by hand is written again
under a raised number. A file missing from the build is dropped from the
list and left in the tree (for players still fetching the older list)
unless --prune.

Files are written with mode 0644 and folders 0755 whatever the umask, so
the web server can read them; copies keep the build's modification time.

Options:
  --dry-run           print the plan (the numbers players see now and the new
                      ones), write nothing
  --prune             delete from the tree the files the list no longer names,
                      once the new list is live
  --second N          set patcher_version's second number (default: keep it)
  --settle T          for edge caches that keep copies up to T seconds: wait
                      T seconds after the files go into place before the
                      list (and release_manifest), and T seconds after the
                      list before the record, so no cache pairs a record
                      with an older list, or a list with older files; the
                      plan shows the whole wait. T is 0 (no wait) to )" +
         std::to_string(kMaxSettleSeconds) + R"(
  --manifest FILE     the tool's record of content hashes; default: beside the
                      tree, RELEASE_TREE.publish-manifest (never inside the
                      served tree); its lock is FILE.lock
  --verify            hash the tree against the manifest and the list, print
                      every difference, write nothing
  --rebuild-manifest  ignore the manifest and take the tree over as it stands
                      (for a manifest that fails its integrity check)
  --signing-key KEY   sign the release with KEY, the operator's P-256 private
                      key in PEM: writes release_manifest (server path, size
                      and SHA-256 of the record, the list, the patcher, the
                      launcher, which the build must hold, and every listed
                      file) and release_manifest.sig
                      after the files and before the list and the record;
                      launchers built with LAUNCHER_RELEASE_KEY set to its
                      public half take nothing else. Without it nothing is
                      signed
  --mirror HOST[:PORT]
                      with --signing-key: a server that serves the same tree
                      under /UploadData/, named in release_manifest (a host
                      name or an IPv4 address); repeat it in order of
                      preference, up to )" +
         std::to_string(kMaxMirrors) + R"( times. Without it the last release's
                      mirrors are kept; a new list signs anew and raises no
                      number
  --no-mirrors        with --signing-key: name no mirror from now on
  --allow-local-mirror
                      let --mirror name a loopback (127.0.0.0/8, localhost),
                      link-local (169.254.0.0/16) or unspecified (0.0.0.0)
                      address: a test rig's, refused otherwise
  --accept-tree-number
                      with --signing-key: sign even though the tree's
                      patcher_version is above the last release this tool
                      published (raised by hand, or by someone else); the
                      new release goes past it. Refused otherwise: the plan
                      shows the jump
  --code-page N       the ANSI code page of the players' Windows, in which the
                      launcher reads the list (default )" +
         std::to_string(kDefaultCodePage) + R"(, Traditional
                      Chinese): list names, release_manifest's paths, the
                      tool's manifest and the tree's file names are written
                      in it (build folder names are UTF-8); a name without a
                      form there is refused. Keep one code page per tree
  --quiet             print errors only
  --help              print this text

Release keys (the native build signs; the Windows build refuses a key):
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out release.key
  openssl pkey -in release.key -pubout -out release.pub
Keep release.key off the download server, readable by the publisher only,
with an offline copy. A new key needs a new launcher build, and installed
launchers replace their own copy only when it is missing: keep signing with
the old key until the launchers built with it are gone
(docs/signed-releases.md, "Keys").

Exit codes:
  0   published, nothing to publish, or (--verify) the tree matches
  2   bad command line
  3   build folder missing, unreadable, without )" + Printable(kPatcherFileName) + R"( (or,
      signing, )" + Printable(kLauncherFileName) + R"(), or a file changed while it was copied
  4   a build file that cannot be published: a name the launcher cannot
      fetch (or without a form in the code page), or a link leading out of
      the build folder (all are listed)
  5   release tree or manifest unreadable, a number in it at the top of
      its range, which a release would wrap, or (signing) a tree record
      above the last release published, without --accept-tree-number
  6   writing the release tree or the manifest failed
  7   not enough free space for the release tree
  8   another run holds the tree's lock
  9   (--verify) the tree differs from the manifest
  10  the manifest fails its integrity check (cut short or edited)
)";
}

bool ParseCommandLine(const Arguments& args, PublishOptions* options, bool* quiet, bool* help,
                      std::string* problem) {
  *quiet = false;
  *help = false;
  std::vector<std::filesystem::path> positional;
  bool settles = false;
  std::vector<std::string> mirrors;
  bool noMirrors = false;
  bool localMirrors = false;
  for (size_t i = 0; i < args.size(); ++i) {
    // Options are ASCII; anything else never matches one.
    const std::string arg = PrintablePath(args[i]);
    const bool hasValue = i + 1 < args.size();
    if (arg == "--help") {
      *help = true;
    } else if (arg == "--dry-run") {
      options->dryRun = true;
    } else if (arg == "--prune") {
      options->prune = true;
    } else if (arg == "--verify") {
      options->verify = true;
    } else if (arg == "--rebuild-manifest") {
      options->rebuildManifest = true;
    } else if (arg == "--quiet") {
      *quiet = true;
    } else if (arg == "--manifest" && hasValue) {
      options->manifest = args[++i];
    } else if (arg == "--signing-key" && hasValue) {
      options->signingKey = args[++i];
    } else if (arg == "--mirror" && hasValue) {
      const std::string mirror = PrintablePath(args[++i]);
      if (!IsMirrorAddress(mirror)) {
        *problem = "--mirror needs HOST or HOST:PORT (a host name or an IPv4 address, a port " +
                   std::string("from 1 to 65535), not ") + mirror;
        return false;
      }
      mirrors.push_back(mirror);
    } else if (arg == "--no-mirrors") {
      noMirrors = true;
    } else if (arg == "--allow-local-mirror") {
      localMirrors = true;
    } else if (arg == "--accept-tree-number") {
      options->acceptTreeNumber = true;
    } else if (arg == "--second" && hasValue) {
      int32_t second = 0;
      if (!ParseWhole(PrintablePath(args[++i]), &second)) {
        *problem = "--second needs a whole number from -2147483648 to 2147483647";
        return false;
      }
      options->second = second;
    } else if (arg == "--code-page" && hasValue) {
      if (!ParseWhole(PrintablePath(args[++i]), &options->codePage) ||
          !IsListCodePage(options->codePage)) {
        *problem = "--code-page needs the number of a Windows ANSI code page this system "
                   "converts (950: Traditional Chinese)";
        return false;
      }
    } else if (arg == "--settle" && hasValue) {
      settles = true;
      if (!ParseWhole(PrintablePath(args[++i]), &options->settleSeconds) ||
          options->settleSeconds > kMaxSettleSeconds) {
        *problem = "--settle needs a whole number of seconds from 0 to " +
                   std::to_string(kMaxSettleSeconds);
        return false;
      }
    } else if (arg.rfind("--", 0) == 0) {
      const bool takesValue = arg == "--manifest" || arg == "--second" || arg == "--signing-key" ||
                              arg == "--settle" || arg == "--mirror" || arg == "--code-page";
      *problem = hasValue || !takesValue ? "unknown option " + arg : arg + " needs a value";
      return false;
    } else {
      positional.push_back(args[i]);
    }
  }
  if (*help) return true;
  const bool mirrorsGiven = noMirrors || !mirrors.empty();
  if (options->verify) {
    if (positional.size() != 1 || options->dryRun || options->prune || options->second ||
        options->rebuildManifest || !options->signingKey.empty() || settles || mirrorsGiven) {
      *problem = "--verify takes RELEASE_TREE alone (and --manifest, --code-page)";
      return false;
    }
    options->releaseTree = positional[0];
    return true;
  }
  if (positional.size() != kPositionalCount) {
    *problem = "give BUILD_FOLDER and RELEASE_TREE";
    return false;
  }
  if (mirrorsGiven) {
    if (noMirrors && !mirrors.empty()) {
      *problem = "give --mirror or --no-mirrors, not both";
      return false;
    }
    if (options->signingKey.empty()) {
      *problem = "--mirror and --no-mirrors need --signing-key: only the signed release manifest "
                 "names mirrors";
      return false;
    }
    if (!IsMirrorList(mirrors)) {
      *problem = "give at most " + std::to_string(kMaxMirrors) + " mirrors, each once";
      return false;
    }
    for (const std::string& mirror : mirrors) {
      if (IsLocalMirrorAddress(mirror) && !localMirrors) {
        *problem = "--mirror " + mirror +
                   " names this machine or its own link (loopback, link-local or 0.0.0.0), "
                   "which no player reaches; a test rig gives --allow-local-mirror";
        return false;
      }
    }
    options->mirrors = std::move(mirrors);
  }
  options->buildFolder = positional[0];
  options->releaseTree = positional[1];
  return true;
}

int RunPublishTool(const Arguments& args, std::FILE* out, std::FILE* err) {
  PublishOptions options;
  bool quiet = false;
  bool help = false;
  std::string problem;
  if (!ParseCommandLine(args, &options, &quiet, &help, &problem)) {
    std::fprintf(err, "velkaris-publish: %s (--help explains)\n", problem.c_str());
    return static_cast<int>(ExitCode::kUsage);
  }
  if (help) {
    std::fputs(UsageText().c_str(), out);
    return static_cast<int>(ExitCode::kOk);
  }
  options.out = quiet ? nullptr : out;
  options.progress = quiet ? nullptr : err;
  Failure failure;
  if (!(options.verify ? Verify(options, &failure) : Publish(options, &failure))) {
    std::fprintf(err, "velkaris-publish: %s\n", failure.message.c_str());
    return static_cast<int>(failure.code);
  }
  return static_cast<int>(ExitCode::kOk);
}

}  // namespace publish
