// The catalogue against the unit's message table, typed out independently here, and
// the string table that names its rows.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "net/message_catalogue.h"
#include "net/message_ids.h"
#include "platform/resources.h"

namespace cvm6 {
namespace {

struct ExpectedRow {
  std::uint16_t id;
  std::uint16_t minLength;
  std::uint16_t maxLength;
  std::uint32_t nameStringId;
  const char* name;  // "" for 0xD0 and 0xD1, which are named by a prompt
};

const ExpectedRow kExpected[] = {
    {0x00, 2, 2, 36001, "MSG_NETWORK_PING"},
    {0x01, 18, 18, 36002, "MSG_NETWORK_DID_CONFIG"},
    {0x02, 2, 2, 36003, "MSG_NETWORK_IDENTIFY"},
    {0x03, 4, 4, 36004, "MSG_NETWORK_DO_ADD_TO_LIST"},
    {0x04, 4, 4, 36005, "MSG_NETWORK_DID_ADD_TO_LIST"},
    {0x05, 4, 4, 36006, "MSG_NETWORK_DO_REMOVE_FROM_LIST"},
    {0x06, 4, 4, 36007, "MSG_NETWORK_DID_REMOVE_FROM_LIST"},
    {0x07, 3, 3, 36008, "MSG_NETWORK_DO_CLEAR_LIST"},
    {0x08, 2, 2, 36009, "MSG_NETWORK_POLL_LIST_REQUEST"},
    {0x09, 103, 103, 36010, "MSG_NETWORK_POLL_LIST_REPLY"},
    {0x0E, 2, 2, 36011, "MSG_NETWORK_EVENT_NOW_INACTIVE"},
    {0x0F, 2, 2, 36012, "MSG_NETWORK_EVENT_NOW_ACTIVE"},
    {0x10, 2, 2, 36013, "MSG_SYSTEM_DO_SOFT_RESET"},
    {0x11, 2, 2, 36014, "MSG_SYSTEM_DO_FACTORY_RESET"},
    {0x12, 2, 2, 36015, "MSG_SYSTEM_DID_POWER_ON_RESET"},
    {0x13, 2, 2, 36016, "MSG_SYSTEM_DID_SOFT_RESET"},
    {0x14, 2, 2, 36017, "MSG_SYSTEM_DID_FACTORY_RESET"},
    {0x15, 3, 3, 36018, "MSG_SYSTEM_DO_START_FLASH_DOWNLOAD"},
    {0x16, 3, 3, 36019, "MSG_SYSTEM_DID_START_FLASH_DOWNLOAD"},
    {0x17, 2, 2, 36020, "MSG_SYSTEM_DO_END_FLASH_DOWNLOAD"},
    {0x18, 7, 7, 36021, "MSG_SYSTEM_DID_END_FLASH_DOWNLOAD"},
    {0x19, 8, 256, 36022, "MSG_SYSTEM_DO_WRITE_FLASH"},
    {0x24, 4, 4, 36023, "MSG_SYSTEM_DID_WRITE_FLASH"},
    {0x1A, 2, 2, 36024, "MSG_SYSTEM_REQUEST_DEVICE_DATA"},
    {0x1B, 10, 10, 36025, "MSG_SYSTEM_REPLY_DEVICE_DATA"},
    {0x1C, 4, 256, 36026, "MSG_SYSTEM_WRITE_DEVICE_NAME"},
    {0x1D, 2, 2, 36027, "MSG_SYSTEM_REQUEST_DEVICE_NAME"},
    {0x1E, 4, 256, 36028, "MSG_SYSTEM_REPLY_DEVICE_NAME"},
    {0x1F, 2, 2, 36029, "MSG_SYSTEM_DO_ATTACH"},
    {0x20, 2, 2, 36030, "MSG_SYSTEM_DO_RELEASE"},
    {0x21, 2, 2, 36031, "MSG_SYSTEM_REQUEST_STATE"},
    {0x22, 5, 5, 36032, "MSG_SYSTEM_REPLY_STATE"},
    {0x23, 5, 5, 36033, "MSG_SYSTEM_WRITE_STATE"},
    {0x2D, 5, 5, 36034, "MSG_ERROR_INVALID_MESSAGE"},
    {0x2E, 5, 5, 36035, "MSG_ERROR_INVALID_LENGTH"},
    {0x2F, 5, 5, 36036, "MSG_ERROR_INVALID_PARAMETER"},
    {0x30, 8, 256, 36037, "MSG_DEBUG_WRITE_DSP_MEMORY"},
    {0x31, 9, 9, 36038, "MSG_DEBUG_REQUEST_DSP_MEMORY"},
    {0x32, 8, 256, 36039, "MSG_DEBUG_REPLY_DSP_MEMORY"},
    {0x33, 2, 256, 36040, "MSG_DEBUG_REQUEST_RESPONSE"},
    {0x34, 2, 256, 36041, "MSG_DEBUG_REPLY_RESPONSE"},
    {0x40, 6, 6, 36042, "MSG_RTA_REQUEST_METERING"},
    {0x41, 20, 20, 36043, "MSG_RTA_REPLY_METERING_4_8"},
    {0x42, 7, 7, 36044, "MSG_RTA_REQUEST_RTA"},
    {0x43, 40, 40, 36045, "MSG_RTA_REPLY_RTA_31"},
    {0x50, 2, 2, 36046, "MSG_PROGRAM_REQUEST_CURRENT"},
    {0x51, 3, 3, 36047, "MSG_PROGRAM_REPLY_CURRENT"},
    {0x52, 2, 2, 36048, "MSG_PROGRAM_REQUEST_LOADED"},
    {0x53, 3, 3, 36049, "MSG_PROGRAM_REPLY_LOADED"},
    {0x54, 2, 2, 36050, "MSG_PROGRAM_REQUEST_CURRENT_NAME"},
    {0x55, 4, 256, 36051, "MSG_PROGRAM_REPLY_CURRENT_NAME"},
    {0x56, 3, 3, 36052, "MSG_PROGRAM_REQUEST_NAME"},
    {0x57, 4, 256, 36053, "MSG_PROGRAM_REPLY_NAME"},
    {0x58, 4, 256, 36054, "MSG_PROGRAM_DO_STORE"},
    {0x59, 4, 4, 36055, "MSG_PROGRAM_DID_STORE"},
    {0x5A, 3, 3, 36056, "MSG_PROGRAM_DO_RETRIEVE"},
    {0x5B, 3, 3, 36057, "MSG_PROGRAM_DID_RETRIEVE"},
    {0x5C, 2, 2, 36058, "MSG_PROGRAM_DO_LOAD"},
    {0x5D, 5, 5, 36059, "MSG_PROGRAM_DID_LOAD"},
    {0x5E, 3, 3, 36060, "MSG_PROGRAM_REQUEST"},
    {0x5F, 6, 6, 36061, "MSG_PROGRAM_REPLY_UPLOAD_HEADER"},
    {0x60, 8, 254, 36062, "MSG_PROGRAM_REPLY_BULK_DATA"},
    {0x61, 6, 6, 36063, "MSG_PROGRAM_DO_START_DOWNLOAD"},
    {0x62, 8, 256, 36064, "MSG_PROGRAM_WRITE_BULK_DATA"},
    {0x63, 3, 3, 36065, "MSG_PROGRAM_DO_END_DOWNLOAD"},
    {0x64, 3, 3, 36066, "MSG_PROGRAM_DID_END_DOWNLOAD"},
    {0x65, 3, 3, 36067, "MSG_PROGRAM_REQUEST_FORMAT"},
    {0x66, 25, 25, 36068, "MSG_PROGRAM_REPLY_FORMAT"},
    {0x67, 2, 2, 36069, "MSG_PROGRAM_REQUEST_GLOBAL_DATA"},
    {0x68, 8, 8, 36070, "MSG_PROGRAM_REPLY_GLOBAL_DATA"},
    {0x70, 3, 3, 36071, "MSG_CONFIG_REQUEST_ALL"},
    {0x71, 2, 2, 36072, "MSG_CONFIG_DO_START"},
    {0x72, 2, 2, 36073, "MSG_CONFIG_DO_END"},
    {0x73, 10, 256, 36074, "MSG_CONFIG_WRITE_FX_DATA"},
    {0x74, 3, 3, 36075, "MSG_CONFIG_REQUEST_FX_DATA"},
    {0x75, 10, 10, 36076, "MSG_CONFIG_REPLY_FX_DATA"},
    {0x76, 3, 3, 36077, "MSG_CONFIG_WRITE_NUMBER_FX"},
    {0x77, 2, 2, 36078, "MSG_CONFIG_REQUEST_NUMBER_FX"},
    {0x78, 3, 3, 36079, "MSG_CONFIG_REPLY_NUMBER_FX"},
    {0x79, 3, 3, 36080, "MSG_CONFIG_REQUEST_FX_NAME"},
    {0x7A, 4, 256, 36081, "MSG_CONFIG_REPLY_FX_NAME"},
    {0x7B, 3, 3, 36082, "MSG_CONFIG_REQUEST_FX_IN_OUT"},
    {0x7C, 5, 5, 36083, "MSG_CONFIG_REPLY_FX_IN_OUT"},
    {0x7D, 2, 2, 36084, "MSG_CONFIG_REQUEST_CURRENT_PRE_EQ"},
    {0x7E, 70, 70, 36085, "MSG_CONFIG_REPLY_CURRENT_PRE_EQ_31"},
    {0x7F, 3, 3, 36086, "MSG_CONFIG_REQUEST_NUMBER_PARAMS"},
    {0x80, 4, 4, 36087, "MSG_CONFIG_REPLY_NUMBER_PARAMS"},
    {0x81, 2, 2, 36088, "MSG_COHERENCY_REQUEST"},
    {0x82, 4, 61, 36089, "MSG_COHERENCY_NUM_PARAMS_REPLY"},
    {0x83, 5, 42, 36090, "MSG_COHERENCY_CUR_VALS_REPLY"},
    {0x84, 4, 4, 36091, "MSG_COHERENCY_PARAM_REQUEST"},
    {0x85, 5, 5, 36092, "MSG_COHERENCY_PARAM_REPLY"},
    {0x86, 2, 2, 36093, "MSG_COHERENCY_PROGRAM_REQUEST"},
    {0x87, 5, 5, 36094, "MSG_COHERENCY_PROGRAM_REPLY"},
    {0x90, 2, 2, 36095, "MSG_PARAM_REQUEST_ALL"},
    {0x91, 4, 256, 36096, "MSG_PARAM_WRITE_ALL_IN_FX"},
    {0x92, 3, 3, 36097, "MSG_PARAM_REQUEST_ALL_IN_FX"},
    {0x93, 5, 255, 36098, "MSG_PARAM_REPLY_ALL_IN_FX"},
    {0x94, 6, 6, 36099, "MSG_PARAM_WRITE"},
    {0x95, 4, 4, 36100, "MSG_PARAM_REQUEST"},
    {0x96, 8, 8, 36101, "MSG_PARAM_REPLY"},
    {0x97, 4, 4, 36102, "MSG_PARAM_REQUEST_INPUT_TYPE"},
    {0x98, 5, 5, 36103, "MSG_PARAM_REPLY_INPUT_TYPE"},
    {0x99, 4, 4, 36104, "MSG_PARAM_REQUEST_PROMPT_STRING"},
    {0x9A, 4, 256, 36105, "MSG_PARAM_REPLY_PROMPT_STRING"},
    {0x9B, 3, 3, 36106, "MSG_PARAM_REQUEST_MAX_SELECT"},
    {0x9C, 5, 5, 36107, "MSG_PARAM_REPLY_MAX_SELECT"},
    {0xA0, 4, 4, 36108, "MSG_BUTTON_DO_PRESS"},
    {0xB0, 3, 3, 36109, "MSG_UI_DO_ATTACH"},
    {0xB1, 2, 2, 36110, "MSG_UI_DO_RELEASE"},
    {0xB2, 4, 256, 36111, "MSG_UI_DO_BUNDLE"},
    {0xB3, 2, 2, 36112, "MSG_CONFIG_MUTE_STATUS_REQUEST"},
    {0xB4, 3, 3, 36113, "MSG_CONFIG_MUTE_STATUS_REPLY"},
    {0xB5, 3, 3, 36114, "MSG_CONFIG_WRITE_SYSTEM_MUTE"},
    {0xB6, 3, 3, 36115, "MSG_CONFIG_SYSTEM_MUTE_REPLY"},
    {0xB7, 2, 2, 36116, "MSG_CONFIG_SYSTEM_MUTE_REQUEST"},
    {0xB8, 3, 3, 36117, "MSG_CONFIG_WRITE_MUTE_STATUS"},
    {0xC0, 2, 2, 61501, "MSG_UTILITY_REQUEST"},
    {0xC1, 75, 75, 61500, "MSG_UTILITY_REPLY"},
    {0xD0, 6, 6, 61503, ""},
    {0xD1, 6, 6, 61504, ""},
};
static_assert(std::size(kExpected) == kMessageCount);

class CatalogueRow : public ::testing::TestWithParam<std::size_t> {};

TEST_P(CatalogueRow, MatchesTheUnitsTableAndIsFoundByItsId) {
  const std::size_t index = GetParam();
  const ExpectedRow& want = kExpected[index];
  const MessageRow& row = MessageCatalogue[index];
  EXPECT_EQ(row.id, want.id);
  EXPECT_EQ(row.minLength, want.minLength);
  EXPECT_EQ(row.maxLength, want.maxLength);
  EXPECT_EQ(row.nameStringId, want.nameStringId);
  EXPECT_EQ(FindMessage(want.id), &row);
  if (*want.name != '\0') {
    EXPECT_EQ(MessageName(row), want.name);
  }
}

INSTANTIATE_TEST_SUITE_P(AllRows, CatalogueRow, ::testing::Range<std::size_t>(0, kMessageCount),
                         [](const auto& rowInfo) {
                           char text[16];
                           std::snprintf(text, sizeof text, "Id%02X", kExpected[rowInfo.param].id);
                           return std::string(text);
                         });

TEST(MessageCatalogue, IdsAreUniqueAndRiseExceptForDidWriteFlashAfterDoWriteFlash) {
  std::set<std::uint16_t> ids;
  for (const MessageRow& row : MessageCatalogue) EXPECT_TRUE(ids.insert(row.id).second) << row.id;
  for (std::size_t i = 1; i < kMessageCount; ++i) {
    const std::uint16_t before = MessageCatalogue[i - 1].id;
    const std::uint16_t here = MessageCatalogue[i].id;
    if (here == MSG_SYSTEM_DID_WRITE_FLASH) {
      EXPECT_EQ(before, MSG_SYSTEM_DO_WRITE_FLASH);
    } else if (before == MSG_SYSTEM_DID_WRITE_FLASH) {
      EXPECT_EQ(here, MSG_SYSTEM_REQUEST_DEVICE_DATA);
    } else {
      EXPECT_LT(before, here) << "row " << i;
    }
  }
}

TEST(MessageCatalogue, NameStringsFollowTheNumberingRule) {
  for (std::size_t i = 0; i < 117; ++i) EXPECT_EQ(MessageCatalogue[i].nameStringId, 36001u + i) << i;
  EXPECT_EQ(MessageCatalogue[117].nameStringId, 61501u);
  EXPECT_EQ(MessageCatalogue[118].nameStringId, 61500u);
  EXPECT_EQ(MessageCatalogue[119].nameStringId, 61503u);
  EXPECT_EQ(MessageCatalogue[120].nameStringId, 61504u);
  for (const MessageRow& row : MessageCatalogue) EXPECT_FALSE(MessageName(row).empty()) << row.id;
}

TEST(MessageCatalogue, TwentyRowsAreVariableWithTheirOwnMaxima) {
  const std::map<std::uint16_t, std::uint16_t> variable = {
      {0x19, 256}, {0x1C, 256}, {0x1E, 256}, {0x30, 256}, {0x32, 256}, {0x33, 256}, {0x34, 256},
      {0x55, 256}, {0x57, 256}, {0x58, 256}, {0x60, 254}, {0x62, 256}, {0x73, 256}, {0x7A, 256},
      {0x82, 61},  {0x83, 42},  {0x91, 256}, {0x93, 255}, {0x9A, 256}, {0xB2, 256}};
  std::map<std::uint16_t, std::uint16_t> found;
  for (const MessageRow& row : MessageCatalogue) {
    if (row.minLength < row.maxLength) found[row.id] = row.maxLength;
    EXPECT_LE(row.minLength, row.maxLength) << row.id;
  }
  EXPECT_EQ(found, variable);
}

TEST(MessageCatalogue, NoRowIsShorterThanItsIdentifier) {
  for (const MessageRow& row : MessageCatalogue) {
    EXPECT_GE(row.minLength, 2) << row.id;
    EXPECT_LE(row.maxLength, 256) << row.id;
  }
}

TEST(FindMessage, FindsDidWriteFlashOutOfOrder) {
  const MessageRow* row = FindMessage(0x24);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row, &MessageCatalogue[22]);
  EXPECT_EQ(MessageName(*row), "MSG_SYSTEM_DID_WRITE_FLASH");
}

TEST(FindMessage, MissesIdsTheTableLacks) {
  for (std::uint32_t id = 0x0A; id <= 0x0D; ++id) EXPECT_EQ(FindMessage(id), nullptr) << id;
  for (std::uint32_t id = 0x25; id <= 0x2C; ++id) EXPECT_EQ(FindMessage(id), nullptr) << id;
  for (std::uint32_t id = 0x35; id <= 0x3F; ++id) EXPECT_EQ(FindMessage(id), nullptr) << id;
  EXPECT_EQ(FindMessage(0xC2), nullptr);
  for (std::uint32_t id = 0xD2; id <= 0xFFFF; ++id)
    ASSERT_EQ(FindMessage(static_cast<std::uint16_t>(id)), nullptr) << id;
}

TEST(LengthRule, FullPayloadPassesWhereverTheMaximumIs256) {
  int rowsAt256 = 0;
  for (const MessageRow& row : MessageCatalogue) {
    if (row.maxLength != 256) continue;
    ++rowsAt256;
    EXPECT_TRUE(PassesLengthCheck(row, 256)) << row.id;
  }
  EXPECT_EQ(rowsAt256, 16);
  EXPECT_FALSE(PassesLengthCheck(*FindMessage(MSG_PROGRAM_REPLY_BULK_DATA), 256));
  EXPECT_FALSE(PassesLengthCheck(*FindMessage(MSG_PARAM_REPLY_ALL_IN_FX), 256));
}

TEST(LengthRule, WriteFlashTakesEmptyAndFullBlocksButNotLess) {
  const MessageRow& row = *FindMessage(MSG_SYSTEM_DO_WRITE_FLASH);
  EXPECT_TRUE(PassesLengthCheck(row, 8));
  EXPECT_TRUE(PassesLengthCheck(row, 256));
  EXPECT_FALSE(PassesLengthCheck(row, 7));
}

struct ExactLength {
  std::uint16_t id;
  std::uint32_t length;
};
class ExactLengthRow : public ::testing::TestWithParam<ExactLength> {};

TEST_P(ExactLengthRow, PassesOnlyAtItsLength) {
  const MessageRow& row = *FindMessage(GetParam().id);
  for (std::uint32_t length = 1; length <= 256; ++length)
    EXPECT_EQ(PassesLengthCheck(row, length), length == GetParam().length) << length;
}

INSTANTIATE_TEST_SUITE_P(UsedByTheUpdater, ExactLengthRow,
                         ::testing::Values(ExactLength{MSG_NETWORK_DID_CONFIG, 18},
                                           ExactLength{MSG_NETWORK_IDENTIFY, 2},
                                           ExactLength{MSG_SYSTEM_REPLY_DEVICE_DATA, 10}));

// The prompts are shown to technicians exactly as worded, double blanks included.
TEST(StringTable, HoldsThePromptsWordForWord) {
  EXPECT_EQ(LoadResString(61503),
            "The Updater cannot connect to the device.  Make sure that the device is ready to receive a "
            "download\n\nTo set a Corvane M4 to receive a download press and hold 'PREV PG' at power-up.\n\n"
            "To set a Corvane M4S to receive a download press and hold 'PROGRAM UP' and 'PROGRAM ' at "
            "power-up.");
  EXPECT_EQ(LoadResString(61513),
            "Failed to open Com Port, make sure that your selections is correct and try again.");
  EXPECT_EQ(LoadResString(61517),
            "You are NOT connected to a Corvane M4/M4S.  Please change the device type and try again.");
  EXPECT_EQ(LoadResString(61518),
            "Update Complete!\n\nYou should now perform a hard reset.\nHold <STORE> and Press <NEXTPG> on "
            "the M6 to reset.");
  const std::optional<std::string> complete = LoadResString(61504);
  ASSERT_TRUE(complete.has_value());
  EXPECT_EQ(complete->rfind("Update Complete!", 0), 0u);
  EXPECT_NE(complete->find("Hold <STORE> and Press <NEXTPG> on the M6 to reset."), std::string::npos);
}

TEST(StringTable, HasNoEntryForUnknownIds) {
  EXPECT_FALSE(LoadResString(36000).has_value());
  EXPECT_FALSE(LoadResString(36118).has_value());
  EXPECT_FALSE(LoadResString(61502).has_value());
}

}  // namespace
}  // namespace cvm6
