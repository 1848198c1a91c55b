#include "publish/plan_text.h"

#include <cstdio>

#include "publish/list_names.h"

namespace publish {

namespace {

constexpr double kMebibyte = 1024.0 * 1024.0;
constexpr size_t kSizeText = 32;

// How the plan names a change, and why it writes when that is not plain.
struct ChangeText {
  const char* word;
  const char* why;
};

ChangeText TextOf(Change change) {
  switch (change) {
    case Change::kUnchanged:
      return {"unchanged", ""};
    case Change::kChanged:
      return {"changed", ""};
    case Change::kNew:
      return {"new", ""};
    case Change::kRepaired:
      return {"repaired", " (the tree's copy differed from the last release)"};
    case Change::kRestored:
      return {"restored", " (the tree's copy was missing)"};
    case Change::kRewritten:
      return {"rewritten", " (an interrupted publish had not put it in place)"};
    case Change::kRemoved:
      return {"removed", " (dropped from the list; the file stays in the tree unless --prune)"};
  }
  return {"", ""};
}

std::string Explanation(const PlannedFile& file) {
  const bool plain = file.change == Change::kChanged || file.change == Change::kNew;
  return plain && !file.copy ? " (the tree holds it already)" : TextOf(file.change).why;
}

std::string NumberText(const std::optional<uint32_t>& number) {
  return number ? std::to_string(*number) : "-";
}

const char* SigningText(Signing signing) {
  switch (signing) {
    case Signing::kUnsigned:
      return "";
    case Signing::kInPlace:
      return "  release_manifest: signed, as in the tree\n";
    case Signing::kAnew:
      return "  release_manifest: signed anew\n";
  }
  return "";
}

// What `step` writes first, by name.
std::string StepTarget(const Plan& plan, Step step) {
  switch (step) {
    case Step::kFiles:
      return "the files";
    case Step::kList:
      if (plan.signing != Signing::kAnew) return "patcher_files_version";
      return plan.writeList ? "release_manifest and patcher_files_version" : "release_manifest";
    case Step::kRecord:
      return "patcher_version";
    case Step::kPrune:
      return "deleting the dropped files (--prune)";
  }
  return "";
}

// Mirrors are named by the signed manifest alone.
std::string MirrorLine(const Plan& plan) {
  const std::vector<std::string>& mirrors = plan.target.mirrors;
  if (plan.signing == Signing::kUnsigned || (mirrors.empty() && plan.lastMirrors.empty())) {
    return "";
  }
  const bool changed = mirrors != plan.lastMirrors;
  return "  mirrors: " + MirrorsText(mirrors) +
         (changed ? " (was: " + MirrorsText(plan.lastMirrors) + ")" : "") + "\n";
}

std::string Seconds(uint64_t seconds) { return std::to_string(seconds) + " s"; }

std::string SettleText(const Plan& plan) {
  if (plan.settleSeconds == 0) return "";
  std::string waits;
  for (const Step step : {Step::kList, Step::kRecord, Step::kPrune}) {
    if (!plan.SettlesBefore(step)) continue;
    waits += std::string(waits.empty() ? " (" : ", ") + Seconds(plan.settleSeconds) + " before " +
             StepTarget(plan, step);
  }
  return "  settling for edge caches: " + Seconds(plan.SettleTotal()) + " in all" +
         (waits.empty() ? "" : waits + ")") + "\n";
}

}  // namespace

std::string MirrorsText(const std::vector<std::string>& mirrors) {
  std::string text;
  for (const std::string& mirror : mirrors) text += (text.empty() ? "" : ", ") + mirror;
  return text.empty() ? "none" : text;
}

std::string WaitText(const Plan& plan, Step step) {
  return "settling: waiting " + Seconds(plan.settleSeconds) + " for edge caches before " +
         StepTarget(plan, step) + "\n";
}

std::string DescribePlan(const Plan& plan) {
  std::string text;
  for (const std::string& note : plan.notes) text += "  note: " + note + "\n";
  if (plan.interrupted) text += "  the last publish was interrupted; this one completes it\n";
  const TreeVersions& shown = plan.shown;
  const bool hasRecord = shown.recordText.has_value();
  text += "  patcher_version: " + (hasRecord ? std::to_string(shown.first) : "-") + " -> " +
          std::to_string(plan.target.first) + ", second number " +
          (hasRecord ? std::to_string(shown.second) : "-") + " -> " +
          std::to_string(plan.target.second) + " (players see the left side now)\n";
  if (plan.jumpedFrom) {
    text += "  patcher_version holds " + std::to_string(shown.first) +
            " in the tree, above the last release this tool published (" +
            std::to_string(*plan.jumpedFrom) + ")\n";
  }
  for (const PlannedFile* executable : {&plan.patcher, plan.launcher ? &*plan.launcher : nullptr}) {
    if (executable == nullptr) continue;
    text += "  " + Printable(executable->name) + ": " + TextOf(executable->change).word +
            Explanation(*executable) + "\n";
  }
  size_t unchanged = 0;
  std::string lines;
  for (const PlannedFile& file : plan.files) {
    if (file.change == Change::kUnchanged) {
      ++unchanged;
      continue;
    }
    const std::string shownNumber = NumberText(file.shownNumber);
    const std::string numbers = file.change == Change::kRemoved
                                    ? shownNumber
                                    : shownNumber + " -> " + std::to_string(file.newNumber);
    lines += "    " + std::string(TextOf(file.change).word) + " " + Printable(file.name) + " " +
             numbers + Explanation(file) + "\n";
  }
  text +=
      "  patcher_files_version: " + std::string(plan.writeList ? "rewritten" : "as in the tree") +
      ", " + std::to_string(unchanged) + " files unchanged\n" + lines;
  for (const std::u16string& name : plan.prune) {
    text += "    delete " + Printable(name) + " (--prune)\n";
  }
  char size[kSizeText];
  std::snprintf(size, sizeof size, "%.1f MiB", static_cast<double>(plan.CopyBytes()) / kMebibyte);
  text += "  files to copy: " + std::to_string(plan.Copies().size()) + " (" + size + ")\n";
  return text + SigningText(plan.signing) + MirrorLine(plan) + SettleText(plan);
}

}  // namespace publish
