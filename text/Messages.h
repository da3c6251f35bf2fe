#pragma once

#include <cstdint>
#include <string>

namespace vxa {

// Ids of the message catalogue. The numbers are fixed: other tools and the instrument's
// documentation refer to the texts by them, so gaps (16..20, 26..30) stay gaps.
namespace msg {
enum : int32_t {
  kCaptionError = 0,
  kCaptionWarning = 1,
  kCaptionInformation = 2,
  kCaptionConfirmation = 3,
  kWindowCaption = 4,
  kThreadCreateFailed = 5,
  kNoDeviceConnected = 6,
  kSearchFailedStatus = 7,
  kMoreThanOneDevice = 8,
  kStateWriteRequest = 9,
  kStateFileTransfer = 10,
  kStateVerification = 11,
  kOpenFileFailed = 12,
  kImageTransferred = 13,
  kProgressFrom = 14,
  kInterruptLoad = 15,
  kVerifiedDataMismatch = 21,
  kImageNotFound = 22,
  kImageLoadFailed = 23,
  kImagePointerFailed = 24,
  kImageSizeUnknown = 25,
  kFtdiWriteError = 31,
  kFtdiOverflow = 32,
  kFtdiReadError = 33,
  kFtdiStatusError = 34,
  kInvalidPacketLength = 35,
  kTransferFromNonZeroBlock = 36,
  kInvalidConfirmCode = 37,
  kReceiveNotFromBlock1 = 38,
  kInsufficientSpace = 39,
  kRestartCurrentTransaction = 40,
  kInvalidFileTypeToSend = 41,
  kRestartIncompleteTransaction = 42,
  kInvalidFileTypeToReceive = 43,
  kDeviceIdFailed = 44,
  kAbortedByUser = 45,
  kButtonFind = 46,
  kButtonLoad = 47,
  kButtonExit = 48,
  kStateFlashing = 49,
  kFirmwareCompleted = 50,  // The numbers up to here are fixed; later texts start at 51.
  kCommunicationError = 51,
  kEndOfFileTooEarly = 52,
  // The terminal front end.
  kFirmwareUntouched = 53,
  kInstallUnderWay = 54,
  kConfirmNeedsTerminal = 55,
  kAnswerPrompt = 56,
  kUpdateDeclined = 57,
  kProgressRate = 58,
  kProgressTimeLeft = 59,
  kDeviceCount = 60,
  kStateFileRead = 61,
  kFileCreateFailed = 62,
  kFileSaveFailed = 63,
  kFileWriteFailed = 64,
  kFileSaved = 65,
  kUnknownOption = 67,
  kMissingArgument = 68,
  kNoCommand = 69,
  kUnknownCommand = 70,
  kWrongArgumentCount = 71,
  kUnknownFileKind = 72,
  kUnknownDriver = 73,
  kConflictingOptions = 74,
  kOptionNeedsSim = 75,
  kInvalidFault = 76,
  kBackendFailed = 77,
  kInvalidOptionValue = 78,
  // The terminal front end, continued.
  kFileNotRegular = 100,
  kTryHelp = 101,
  // The vendor's driver library and the COM ports.
  kD2xxLibraryMissing = 120,
  kD2xxFunctionMissing = 121,
  kComPortMissing = 122,
  kComPortBusy = 123,
  kComPortFailed = 124,
  kNoFtdiDeviceFound = 125,
  // What a failed or unfinished update means for the instrument, and the version wait.
  kFirmwareUnchangedRepeat = 130,
  kInstallRefused = 131,
  kCloseDuringInstall = 132,
  kVersionWaitTime = 133,
  kVerifyMismatchAt = 134,
  // The terminal front end as people meet it, and the serial-port and libftdi backends' causes.
  kNewProgramVersion = 140,
  kDeviceClockSet = 141,
  kBytesReceived = 142,
  kInstrumentUnchanged = 143,
  kAnswerChoices = 144,
  kNotSerialPort = 145,
  kPortPermission = 146,
  kNoDeviceDescribed = 147,
  kUsbNodePermission = 148,
  kBridgeHeld = 149,
  // Several instruments on one computer: list, --device and --all.
  kBridgeLine = 150,
  kNoSuchInstrument = 151,
  kNotTheInstrument = 152,
  kSerialNotUnique = 153,
  kColumnSerial = 154,
  kColumnPort = 155,
  kColumnOutcome = 156,
  kColumnVersion = 157,
  kColumnTime = 158,
  kOutcomeUpdated = 159,
  kStationSummary = 160,
  kStationAboutToUpdate = 161,
  kStationSearching = 162,
  kOptionNeedsCommand = 163,
  kBridgeGone = 164,
  // The help of both programs.
  kHelpUsage = 165,
  kHelpCommands = 166,
  kHelpOptions = 167,
  kHelpList = 168,
  kHelpInfo = 169,
  kHelpUpdate = 170,
  kHelpReadArguments = 171,
  kHelpRead = 172,
  kHelpSim = 173,
  kHelpFast = 174,
  kHelpValuePath = 175,
  kHelpPort = 176,
  kHelpValueName = 177,
  kHelpDriver = 178,
  kHelpLog = 179,
  kHelpValueDevice = 180,
  kHelpDevice = 181,
  kHelpAll = 182,
  kHelpValueLanguage = 183,
  kHelpLang = 184,
  kHelpYes = 185,
  kHelpHelp = 186,
  kHelpVersion = 187,
  kHelpEndOfOptions = 188,
  kHelpExitCodes = 189,
  kHelpListOr = 190,
  kDriverSerialNote = 191,
  kDriverLibFtdiNote = 192,
  kDriverD2xxNote = 193,
  // Once the instrument has reported its new version.
  kNewVersionClockNotSet = 194,
  kClockNotSet = 195,
  // The production line: JSON output, records, the watched station.
  kHelpJson = 196,
  kHelpValueFile = 197,
  kHelpRecord = 198,
  kHelpWatch = 199,
  // The window on Windows.
  kWin32WindowUsage = 240,
  kOwnFileIsLink = 280,
  kOwnFileNotRegular = 281,
  // The window's help.
  kWindowHelpUsage = 300,
  kWindowHelpIntro = 301,
  kWindowHelpSim = 302,
  kWindowHelpPort = 303,
  kWindowHelpLog = 304,
  kWindowHelpLang = 305,
  kWindowHelpTime = 306,
  // The production line, continued.
  kHelpForce = 307,
  kJsonNeedsYes = 308,
  // The help on Windows, where it differs.
  kHelpValuePort = 309,
  kHelpPortWindows = 310,
  kHelpLangWindows = 311,
  kDriverSerialNoteWindows = 312,
  // --record and history
  kHelpHistory = 360,
  kRecordOpenFailed = 361,
  kRecordNotRegular = 362,
  kRecordWriteFailed = 363,
  kHistoryLineSkipped = 364,
  kHistoryEmpty = 365,
  kColumnWhen = 366,
  kColumnVersions = 367,
  // The watched station.
  kWatchStarted = 380,
  kStationUpToDate = 381,
  kStationUnplugged = 382,
  // Lines that fit the terminal: short outcomes, what an update changes, the help's examples.
  kShortRefused = 400,
  kShortLinkFailed = 401,
  kShortNotAnswering = 402,
  kShortProtocolError = 403,
  kShortVerifyMismatch = 404,
  kShortVersionTimeout = 405,
  kShortClockNotSet = 406,
  kShortInterrupted = 407,
  kShortNotFound = 408,
  kShortFailed = 409,
  kVersionChange = 410,
  kSameVersionAgain = 411,
  kHelpExamples = 412,
  kExampleUpdate = 413,
  kExampleDevice = 414,
  kExampleAll = 415,
  kExampleReadToStandardOutput = 416,
  // Causes of a failed driver call, and hints.
  kCauseDisconnected = 420,
  kCausePortSpeed = 421,
  kCausePortSpeedReported = 422,
  kCauseBridgeSpeed = 423,
  kCausePortSetting = 424,
  kCauseBridgeBusy = 425,
  kCauseDriverStatus = 426,
  kCauseBridgeError = 427,
  kHintSeveralDevices = 428,
  kHintInstalling = 429,
  // Usage errors, read to standard output, --version, the window without a display.
  kOptionTakesNoValue = 440,
  kCommandUsage = 441,
  kReadToTerminal = 442,
  kFileWrittenToStandardOutput = 443,
  kFileIsDirectory = 444,
  kVersionImage = 445,
  kVersionImagePlaceholder = 446,
  kVersionImageGiven = 447,
  kVersionLicence = 448,
  kVersionReport = 449,
  kWindowNoDisplay = 450,
};
}  // namespace msg

// Numbers of the string table; its texts follow the catalogue's language.
namespace str {
enum : int {
  kUpdate = 1,
  kNotConnected = 2,
  kLabelModel = 3,
  kLabelSerial = 4,
  kLabelDeviceVersion = 5,
  kLabelProgramVersion = 6,
  kConfirmLoad = 7,
  kLoadCompleted = 8,
  kCommunicationError = 9,
  kBatteryLow = 10,
  kRomError = 11,
  kBatteryCheck = 12,
  kLoading = 13,
  kLabelDevice = 14,
  kLabelSoftware = 15,
  kLabelVersion = 16,
};
}  // namespace str

enum MessageLanguage : int32_t { kLanguageRussian = 0, kLanguageEnglish = 1 };

// Text of a catalogue message in the current language. `line` is the caller's source line; it is
// shown in place of the text when the id is unknown, so that a report points at the caller. The
// result stays valid until the next unknown id looked up on the same thread (known ids return
// constant text), so it may be used directly as a printf format.
const char* MessageText(int32_t id, int32_t line);

// 0 selects Russian, 1 English; any other value leaves the language as it is.
void SetMessageLanguage(int32_t index);
int32_t CurrentMessageLanguage();

// A string-table text by its number; empty for a number that has no text.
std::string StringTableText(int number);

// printf-style formatting into a std::string, for catalogue texts that carry %d, %s or %02x.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vxa

// Each call site passes its own line number, as the catalogue's fallback text expects.
#define VXA_MSG(id) ::vxa::MessageText((id), __LINE__)
