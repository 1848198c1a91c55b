#include "ui/messages.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

constexpr size_t kSlotCount = 111;

// The catalogue is a fixed run of text pointers, slot 0 first.
const char16_t* const* Slots() { return reinterpret_cast<const char16_t* const*>(&g_messages); }

TEST(MessageCatalogue, HoldsOneNonEmptyTextPerSlot) {
  static_assert(sizeof(MessageCatalogue) == kSlotCount * sizeof(const char16_t*));
  for (size_t slot = 0; slot < kSlotCount; ++slot) {
    ASSERT_NE(Slots()[slot], nullptr) << "slot " << slot;
    EXPECT_NE(Slots()[slot][0], u'\0') << "slot " << slot;
  }
  EXPECT_EQ(Slots()[0], g_messages.MsgUpdateRunningInGame);
  EXPECT_EQ(Slots()[9], g_messages.MsgUndefined);
  EXPECT_EQ(Slots()[110], g_messages.MsgClientExtrasDownloadFailed);
}

TEST(MessageCatalogue, KeepsTextsThatReadAlikeInSeparateSlots) {
  EXPECT_EQ(std::u16string(g_messages.MsgStepCollectClientData),
            g_messages.MsgStepCollectClientData2);
  EXPECT_EQ(std::u16string(g_messages.MsgShortcutName), g_messages.MsgShortcutDescription);
  EXPECT_EQ(std::u16string(g_messages.MsgShortcutName), u"Velkaris");
  EXPECT_NE(std::u16string(g_messages.MsgReceivingFiles), g_messages.MsgStepReceiveFiles);
}

TEST(MessageCatalogue, KeepsLineBreaksAndPlaceholdersAsWritten) {
  const std::u16string suffix = g_messages.MsgConfirmInstallPathSuffix;
  EXPECT_EQ(suffix.substr(0, 2), u"\r\n");
  EXPECT_EQ(suffix, u"\r\n是否安裝至該檔案路徑？");

  const std::u16string connect = g_messages.MsgPatchServerConnectFailed;
  EXPECT_NE(connect.find(u"\r\n Please restart"), std::u16string::npos);

  EXPECT_NE(std::u16string(g_messages.MsgPatchFailedReboot).find(u"\n"), std::u16string::npos);
  EXPECT_EQ(std::u16string(g_messages.MsgPatchFailedReboot).find(u"\r"), std::u16string::npos);
  EXPECT_EQ(std::u16string(g_messages.MsgDataDefectConfirmRepair).find(u"\r"),
            std::u16string::npos);

  EXPECT_EQ(std::u16string(g_messages.MsgUpdatingFileFmt), u"正在更新檔案: %s");
  EXPECT_EQ(std::u16string(g_messages.MsgUndefined), u"[Undefined Message]");
}

}  // namespace
