// Registry, dialogs and shell links of the simulated machine.
#include <cstring>

#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/sim/sim_machine.h"

namespace platform {

namespace {

sim::Machine& M() { return sim::Current(); }

using sim::LowerAscii;

// Open keys are handed out as 1-based indexes into this table.
std::vector<std::u16string>& OpenKeys() {
  static std::vector<std::u16string> keys;
  return keys;
}

uintptr_t OpenHandle(const std::u16string& key) {
  OpenKeys().push_back(LowerAscii(key));
  return OpenKeys().size();
}

const std::u16string& KeyOf(const RegistryKey& key) { return OpenKeys().at(key.get() - 1); }

using Values = std::map<std::u16string, sim::RegistryValue>;

// Value names compare case-insensitively, as key names do.
Values::iterator FindValue(Values& values, const std::u16string& name) {
  const std::u16string lower = LowerAscii(name);
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (LowerAscii(it->first) == lower) return it;
  }
  return values.end();
}

bool IsText(uint32_t type) { return type == kRegSz || type == kRegExpandSz; }

char16_t UnitAt(const uint8_t* data, uint32_t index) {
  char16_t unit = 0;
  std::memcpy(&unit, data + index * sizeof(char16_t), sizeof(unit));
  return unit;
}

// The simulated browse dialog's window handle.
int g_browseDialog;

}  // namespace

// A simulated key is an index into the keys opened so far; nothing to close.
void RegistryKeyTraits::Close(uintptr_t) {}

bool OpenMachineKey(const std::u16string& subKey, RegistryKey* key) {
  if (!M().KeyExists(subKey)) return false;
  key->reset(OpenHandle(subKey));
  return true;
}

bool CreateMachineKey(const std::u16string& subKey, const std::u16string& className,
                      RegistryKey* key) {
  if (M().failRegistryCreate) return false;
  const std::u16string lower = LowerAscii(subKey);
  if (!M().registry.count(lower)) {
    M().registry[lower];
    M().registryClasses[lower] = className;
  }
  key->reset(OpenHandle(subKey));
  return true;
}

bool QueryValue(const RegistryKey& key, const std::u16string& name, uint32_t* type,
                uint8_t* data, uint32_t* bytes) {
  auto& values = M().registry[KeyOf(key)];
  const auto it = FindValue(values, name);
  if (it == values.end()) return false;
  const auto& stored = it->second;
  const auto size = static_cast<uint32_t>(stored.data.size());
  if (size > *bytes) return false;  // ERROR_MORE_DATA, and nothing reported
  std::memcpy(data, stored.data.data(), size);
  // A text stored without its terminator gets one behind it where the
  // buffer has room; the size returned leaves it out.
  if (IsText(stored.type) && size >= sizeof(char16_t) && size + sizeof(char16_t) <= *bytes &&
      UnitAt(data + size - sizeof(char16_t), 0) != u'\0') {
    std::memset(data + size, 0, sizeof(char16_t));
  }
  *type = stored.type;
  *bytes = size;
  return true;
}

bool SetValue(const RegistryKey& key, const std::u16string& name, uint32_t type,
              const uint8_t* data, uint32_t bytes) {
  if (M().failRegistryWrite) return false;
  // A text counted without the terminator that follows it in memory is
  // stored with it: Windows looks at the unit past the count.
  const uint32_t units = bytes / uint32_t{sizeof(char16_t)};
  if (IsText(type) && units > 0 && UnitAt(data, units - 1) != u'\0' &&
      UnitAt(data, units) == u'\0') {
    bytes += uint32_t{sizeof(char16_t)};
  }
  sim::RegistryValue value;
  value.type = type;
  value.data.assign(data, data + bytes);
  auto& values = M().registry[KeyOf(key)];
  const auto it = FindValue(values, name);
  // A value written again keeps the name it was first written under.
  (it != values.end() ? it->second : values[name]) = value;
  std::u16string shown(reinterpret_cast<const char16_t*>(data), bytes / sizeof(char16_t));
  while (!shown.empty() && shown.back() == u'\0') shown.pop_back();
  M().registryWrites.push_back(KeyOf(key) + u"\\" + name + u"=" + shown);
  return true;
}

namespace {

// The next scripted answer; an unscripted dialog is noted and dismissed.
sim::DialogAnswer NextAnswer(const sim::DialogAnswer& fallback) {
  if (M().answers.empty()) {
    M().unscriptedDialog = true;
    return fallback;
  }
  sim::DialogAnswer answer = M().answers.front();
  M().answers.pop_front();
  M().AdvanceClock(answer.milliseconds);
  return answer;
}

}  // namespace

int ShowMessageBox(WindowHandle owner, const std::u16string& text, const std::u16string& caption,
                   uint32_t type) {
  sim::DialogRecord record;
  record.kind = sim::DialogRecord::Kind::kMessageBox;
  record.owner = owner;
  record.caption = caption;
  record.text = text;
  record.type = type;
  const int fallback = (type & kMbYesNo) ? kIdNo : kIdOk;
  record.answer = NextAnswer(sim::DialogAnswer::Button(fallback)).button;
  M().transcript.push_back(record);
  return record.answer;
}

bool BrowseForFolder(WindowHandle owner, const std::u16string& title, uint32_t flags,
                     BrowseCallbackProc callback, intptr_t data, std::u16string* path) {
  M().transcript.push_back({});
  const size_t index = M().transcript.size() - 1;
  {
    auto& record = M().transcript[index];
    record.kind = sim::DialogRecord::Kind::kBrowseFolder;
    record.owner = owner;
    record.text = title;
    record.type = flags;
  }
  if (callback) callback(&g_browseDialog, kBffmInitialized, 0, data);
  const sim::DialogAnswer answer = NextAnswer(sim::DialogAnswer::Cancel());
  if (answer.cancel) return false;
  M().transcript[index].chosen = answer.folder;
  *path = answer.folder;
  return true;
}

intptr_t SendWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                           intptr_t lParam) {
  // The only window messages the logic sends go to the browse dialog.
  if (window == &g_browseDialog && message == kBffmSetSelectionW && wParam != 0 &&
      !M().transcript.empty()) {
    M().transcript.back().preselected = reinterpret_cast<const char16_t*>(lParam);
  }
  return 0;
}

bool GetSpecialFolderPath(int csidl, std::u16string* path) {
  const auto it = M().specialFolders.find(csidl);
  if (it == M().specialFolders.end()) return false;
  *path = it->second;
  return true;
}

bool GetKnownFolderPath(KnownFolder folder, std::u16string* path) {
  const auto it = M().knownFolders.find(folder);
  if (it == M().knownFolders.end()) return false;
  *path = it->second;
  return true;
}

void InitializeComponentLibrary() { ++M().componentLibraryInits; }

void ShellLinkTraits::Close(void* link) { delete static_cast<sim::ShellLinkRecord*>(link); }

int32_t ShellLink::Create() {
  if (M().shellLinkCreateResult < 0) return M().shellLinkCreateResult;
  m_link.reset(new sim::ShellLinkRecord());
  return 0;
}

void ShellLink::SetPath(const std::u16string& target) {
  static_cast<sim::ShellLinkRecord*>(m_link.get())->target = target;
}

void ShellLink::SetIconLocation(const std::u16string& file, int index) {
  auto* link = static_cast<sim::ShellLinkRecord*>(m_link.get());
  link->iconFile = file;
  link->iconIndex = index;
}

void ShellLink::SetDescription(const std::u16string& description) {
  static_cast<sim::ShellLinkRecord*>(m_link.get())->description = description;
}

int32_t ShellLink::Save(const std::u16string& linkPath) {
  constexpr int32_t kAccessDenied = static_cast<int32_t>(0x80070005);
  for (const auto& folder : M().unwritableLinkFolders) {
    if (linkPath.compare(0, folder.size(), folder) == 0) return kAccessDenied;
  }
  M().shellLinks[linkPath] = *static_cast<sim::ShellLinkRecord*>(m_link.get());
  return 0;
}

}  // namespace platform
