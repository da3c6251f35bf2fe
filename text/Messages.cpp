#include "text/Messages.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

#include "Version.h"

namespace vxa {
namespace {

// One row per message: its id and its text in each language, in id order. A row that lacks a
// language, an id out of order or taken twice, or a format whose conversions differ between the
// languages stops the build: the texts are printf formats, which the compiler cannot check where
// they are used.
struct CatalogueEntry {
  int32_t id;
  const char* russian;
  const char* english;
};

// Texts are stored as UTF-8.
constexpr CatalogueEntry kCatalogue[] = {
    {msg::kCaptionError, "Ошибка", "Error"},
    {msg::kCaptionWarning, "Предупреждение", "Warning"},
    {msg::kCaptionInformation, "Информация", "Information"},
    {msg::kCaptionConfirmation, "Подтверждение", "Confirmation"},
    {msg::kWindowCaption, "Загрузчик прибора VXA-4410", "VXA-4410 Loader"},
    {msg::kThreadCreateFailed, "Не удалось создать поток обмена", "Failed to create traffic control thread"},
    {msg::kNoDeviceConnected, "\tНе найдено подключенных устройств.\r\nПроверьте соединительные кабели USB и повторите попытку.", "\tNo device connected.\r\nCheck USB cable connection and try again."},
    {msg::kSearchFailedStatus, "Ошибка при поиске устройств (статус = %d)", "Error while searching devices (status = %d)"},
    {msg::kMoreThanOneDevice, "    Найдено более одного устройства VXA-4410.\r\nОтсоедините лишние устройства VXA-4410 от USB,\r\n\tа затем повторите попытку.", "    Found more than one VXA-4410.\r\nDisconnect unnecessary VXA-4410 from USB port\r\n\tand try again."},
    {msg::kStateWriteRequest, "Запрос на запись", "Write request"},
    {msg::kStateFileTransfer, "Передача файла", "File transfer"},
    {msg::kStateVerification, "Верификация данных", "Data verification"},
    {msg::kOpenFileFailed, "Не удалось открыть файл, ошибка: %s", "Failed to open file. Error: %s"},
    {msg::kImageTransferred, "\tЗагрузочный образ успешно передан в прибор.\r\nЗа ходом обновления прошивки следите по дисплею прибора.", "\tBoot image transferred into device successfully.\r\nThe firmware update progress is shown on the screen."},
    {msg::kProgressFrom, " из ", " from "},
    {msg::kInterruptLoad, "Прервать процесс загрузки?", "Interrupt load process?"},
    {msg::kVerifiedDataMismatch, "Несовпадение проверяемых данных", "Verified data mismatch"},
    {msg::kImageNotFound, "Не найден ресурс содержащий загрузочный образ", "Resource with boot image not found"},
    {msg::kImageLoadFailed, "Невозможно загрузить ресурс загрузочного образа", "Failed to load boot image resource"},
    {msg::kImagePointerFailed, "Невозможно получить указатель на загрузочный образ", "Failed to get boot image pointer"},
    {msg::kImageSizeUnknown, "Неизвестный размер загрузочного образа", "Unknown size of boot image"},
    {msg::kFtdiWriteError, "Ошибка записи в файл FTDI код ", "Error while writing into FTDI file code"},
    {msg::kFtdiOverflow, "Переполнение файла FTDI", "FTDI file overflow"},
    {msg::kFtdiReadError, "Ошибка чтения файла FTDI код ", "Error while reading FTDI file code"},
    {msg::kFtdiStatusError, "Невозможно получить статус FTDI код ", "Failed to retrieve FTDI status code"},
    {msg::kInvalidPacketLength, "Принят пакет неразрешенной длины", "The length of received packet is invalid"},
    {msg::kTransferFromNonZeroBlock, "Попытка инициализации передачи с ненулевого блока", "Attempt to initialize transfer from non-zero block"},
    {msg::kInvalidConfirmCode, "Принят пакет с неразрешенным кодом подтверждения = 0x%02x", "Received packet with invalid confirm code = 0x%02x"},
    {msg::kReceiveNotFromBlock1, "Попытка инициализации приема блоком с номером не равным 1", "Attempt to initialize receiving by block not equal to 1"},
    {msg::kInsufficientSpace, "Недостаточно места для записи в файл", "Insufficient space to write into file"},
    {msg::kRestartCurrentTransaction, "Попытка перезапустить текущую транзакцию", "Attempt to restart current transaction"},
    {msg::kInvalidFileTypeToSend, "Неверный тип передаваемого файла", "Invalid type of file to be transferred"},
    {msg::kRestartIncompleteTransaction, "Попытка перезапустить незавершенную транзакцию", "Attempt to restart incomplete transaction"},
    {msg::kInvalidFileTypeToReceive, "Неверный тип принимаемого файла", "Invalid type of received file"},
    {msg::kDeviceIdFailed, "Не могу получить идентификатор устройства.", "Failed to retrieve device ID."},
    {msg::kAbortedByUser, "Прервано пользователем", "Aborted by user"},
    {msg::kButtonFind, "Поиск", "Find"},
    {msg::kButtonLoad, "Загрузить", "Download"},
    {msg::kButtonExit, "Выход", "Exit"},
    {msg::kStateFlashing, "Прошивка...", "Flashing..."},
    {msg::kFirmwareCompleted, "Прошивка прибора успешно завершена", "The firmware is successfully completed"},
    {msg::kCommunicationError, "Ошибка связи с прибором", "Communication error with the instrument"},
    {msg::kEndOfFileTooEarly, "Прибор подтвердил конец файла до окончания передачи данных", "The instrument acknowledged the end of file before all data was sent"},
    {msg::kFirmwareUntouched, "Программа прибора не изменена: команда установки не отправлялась.", "The instrument's firmware is untouched: the install request was not sent."},
    {msg::kInstallUnderWay, "Прибор устанавливает новую программу: не отключайте его до окончания установки.", "The instrument is installing the new firmware: do not unplug it until the installation is over."},
    {msg::kConfirmNeedsTerminal, "Загрузка требует подтверждения, но ввод идёт не с терминала.\nЧтобы загрузить без вопроса, добавьте --yes.", "The update needs a confirmation, but the input is not a terminal.\nAdd --yes to update without the question."},
    {msg::kAnswerPrompt, " [д/н]: ", " [y/n]: "},
    {msg::kUpdateDeclined, "Загрузка отменена.", "Update cancelled."},
    {msg::kProgressRate, "%.0f КБ/с", "%.0f KB/s"},
    {msg::kProgressTimeLeft, "осталось %d:%02d", "%d:%02d left"},
    {msg::kDeviceCount, "Подключено устройств FTDI: %u", "FTDI devices attached: %u"},
    {msg::kStateFileRead, "Чтение файла %s", "Reading file %s"},
    {msg::kFileCreateFailed, "Не удалось создать файл %s: %s", "Failed to create file %s: %s"},
    {msg::kFileSaveFailed, "Не удалось сохранить файл %s: %s", "Failed to save file %s: %s"},
    {msg::kFileWriteFailed, "Ошибка записи в файл: %s", "Error writing the file: %s"},
    {msg::kFileSaved, "Файл %s сохранён (%d байт)", "File %s saved (%d bytes)"},
    {msg::kUnknownOption, "неизвестный параметр: %s", "unknown option: %s"},
    {msg::kMissingArgument, "параметру %s нужно значение", "option %s requires a value"},
    {msg::kNoCommand, "не задана команда", "no command given"},
    {msg::kUnknownCommand, "неизвестная команда: %s", "unknown command: %s"},
    {msg::kWrongArgumentCount, "неверное число аргументов команды %s", "wrong number of arguments for command %s"},
    {msg::kUnknownFileKind, "неизвестный тип файла: %s (kernel, dev_info, dev_caliber, sensor0, sensor1, swap)", "unknown file kind: %s (kernel, dev_info, dev_caliber, sensor0, sensor1, swap)"},
    {msg::kUnknownDriver, "неизвестный драйвер: %s (%s)", "unknown driver: %s (%s)"},
    {msg::kConflictingOptions, "параметры %s и %s несовместимы", "options %s and %s cannot be combined"},
    {msg::kOptionNeedsSim, "параметр %s действует только вместе с --sim", "option %s works only together with --sim"},
    {msg::kInvalidFault, "неверное описание отказа: %s", "invalid fault description: %s"},
    {msg::kBackendFailed, "Не удалось подготовить драйвер: %s", "Failed to set up the driver: %s"},
    {msg::kInvalidOptionValue, "неверное значение параметра %s: %s", "invalid value of option %s: %s"},
    {msg::kFileNotRegular, "%s — не обычный файл, и записывать в него программа не будет.\nУкажите вместо него - (стандартный вывод) и перенаправьте вывод средствами оболочки.", "%s is not a regular file, and the program will not write into it.\nGive - (standard output) instead and redirect it with the shell."},
    {msg::kTryHelp, "(подробнее: %s --help)", "(try %s --help)"},
    {msg::kD2xxLibraryMissing, "не загружается библиотека драйвера %s: %s", "cannot load the driver library %s: %s"},
    {msg::kD2xxFunctionMissing, "в библиотеке драйвера %s нет функции %s", "the driver library %s has no function %s"},
    {msg::kComPortMissing, "порта %s нет", "there is no port %s"},
    {msg::kComPortBusy, "порт %s занят другой программой", "port %s is in use by another program"},
    {msg::kComPortFailed, "порт %s: %s", "port %s: %s"},
    {msg::kNoFtdiDeviceFound, "не подключено ни одного устройства FTDI (%s)", "no FTDI device is attached (%s)"},
    {msg::kFirmwareUnchangedRepeat, "Программа прибора не изменена, обновление можно повторить.", "The instrument's firmware is unchanged; the update can be repeated."},
    {msg::kInstallRefused, "Прибор отказался устанавливать новую программу: %s", "The instrument refused to install the new firmware: %s"},
    {msg::kCloseDuringInstall, "Прибор устанавливает новую программу. Не отключайте его от USB и не выключайте, пока установка не закончится.\nЗакрытие программы установку не остановит.\nЗакрыть программу?", "The instrument is installing the new firmware. Do not unplug it or switch it off until the installation is over.\nClosing the program does not stop the installation.\nClose the program?"},
    {msg::kVersionWaitTime, "%d:%02d из %d:%02d", "%d:%02d of %d:%02d"},
    {msg::kVerifyMismatchAt, "Первое различие по смещению %u, сравнено байт: %u", "First difference at offset %u; %u bytes compared"},
    {msg::kNewProgramVersion, "Прибор сообщает версию программы %s", "The instrument reports program version %s"},
    {msg::kDeviceClockSet, "Часы прибора установлены: %s", "The instrument's clock was set to %s"},
    {msg::kBytesReceived, "(получено %d байт)", "(%d bytes received)"},
    {msg::kInstrumentUnchanged, "Прибор не изменён: из него только читали.", "The instrument was not changed: it was only read from."},
    {msg::kAnswerChoices, "Ответьте д или да, чтобы продолжить, н или нет, чтобы отказаться (можно и y, yes, n, no).", "Answer y or yes to go on, n or no to decline (д, да, н, нет also do)."},
    {msg::kNotSerialPort, "%s — не последовательный порт", "%s is not a serial port"},
    {msg::kPortPermission, "нет доступа к %s: добавьте пользователя в группу %s и войдите в систему заново", "permission denied on %s: add the user to group %s and log in again"},
    {msg::kNoDeviceDescribed, "ни одно устройство FTDI не называет себя \"%s\" (найдены: %s)", "no FTDI device is described as \"%s\" (found: %s)"},
    {msg::kUsbNodePermission, "нет доступа к USB-устройству FTDI %s: установите правило udev для производителя 0403 и изделий FTDI (MODE=\"0660\" с GROUP=\"plugdev\" или TAG+=\"uaccess\"), затем подключите прибор заново", "no permission on the FTDI device's USB node %s: install a udev rule for vendor 0403 and the FTDI product ids (MODE=\"0660\" with GROUP=\"plugdev\", or TAG+=\"uaccess\"), then plug the instrument in again"},
    {msg::kBridgeHeld, "устройство FTDI занято драйвером ядра ftdi_sio или другой программой (%s): закройте то, что использует его порт /dev/ttyUSB, или выберите драйвер serial", "the FTDI device is held by the kernel's ftdi_sio driver or another program (%s): close what uses its /dev/ttyUSB port, or choose the serial driver"},
    {msg::kBridgeLine, "%u: %s; порт: %s; серийный номер моста: %s", "%u: %s; port: %s; bridge serial number: %s"},
    {msg::kNoSuchInstrument, "Прибор %s не найден: нет ни устройства с таким номером, портом или серийным номером моста, ни прибора с таким заводским номером.", "Instrument %s not found: no device has that index, port or bridge serial number, and no instrument has that serial number."},
    {msg::kNotTheInstrument, "Устройство %s - не прибор VXA-4410: оно называет себя \"%s\".", "Device %s is not a VXA-4410: it calls itself \"%s\"."},
    {msg::kSerialNotUnique, "Заводской номер %s есть у нескольких приборов: выберите прибор по номеру или порту (list).", "Several instruments have serial number %s: choose one by its index or port (list)."},
    {msg::kColumnSerial, "Заводской номер", "Serial number"},
    {msg::kColumnPort, "Порт", "Port"},
    {msg::kColumnOutcome, "Результат", "Outcome"},
    {msg::kColumnVersion, "Новая версия", "New version"},
    {msg::kColumnTime, "Время", "Time"},
    {msg::kOutcomeUpdated, "обновлён", "updated"},
    {msg::kStationSummary, "Обновлено приборов: %d из %d", "Instruments updated: %d of %d"},
    {msg::kStationAboutToUpdate, "Будут обновлены все подключённые приборы VXA-4410: %d.", "Every attached VXA-4410 will be updated: %d."},
    {msg::kStationSearching, "Поиск прибора", "Looking for the instrument"},
    {msg::kOptionNeedsCommand, "параметр %s действует только с командами %s", "option %s works only with the commands %s"},
    {msg::kBridgeGone, "устройства FTDI %s больше нет: его отключили после поиска", "the FTDI device %s is no longer there: it was unplugged after the search"},
    // The help of both programs, built from the tables of their commands, options and drivers.
    {msg::kHelpUsage, "Использование: %s [параметры] КОМАНДА", "Usage: %s [options] COMMAND"},
    {msg::kHelpCommands, "Команды:", "Commands:"},
    {msg::kHelpOptions, "Параметры:", "Options:"},
    {msg::kHelpList,
     "число подключенных устройств FTDI, их описания, порты и серийные номера мостов",
     "the number of attached FTDI devices, their descriptions, ports and bridge serial numbers"},
    {msg::kHelpInfo, "найти прибор и показать модель, номер и версии",
     "find the instrument, show its model, number and versions"},
    {msg::kHelpUpdate, "загрузить в прибор новую программу", "load the new firmware into the instrument"},
    {msg::kHelpReadArguments, "ТИП ФАЙЛ", "KIND FILE"},
    {msg::kHelpRead, "прочитать файл прибора (%s) в ФАЙЛ",
     "read one of the instrument's files (%s) into FILE"},
    {msg::kHelpSim, "встроенный имитатор прибора", "the built-in simulated instrument"},
    {msg::kHelpFast, "(с --sim) имитатор в виртуальном времени, без ожидания",
     "(with --sim) the simulator in virtual time, no waiting"},
    {msg::kHelpValuePath, "ПУТЬ", "PATH"},
    {msg::kHelpPort, "последовательный порт ПУТЬ (/dev/ttyUSB0, COM5)",
     "the serial port PATH (/dev/ttyUSB0, COM5)"},
    {msg::kHelpValueName, "ИМЯ", "NAME"},
    {msg::kHelpDriver, "драйвер: %s", "driver: %s"},
    {msg::kHelpLog,
     "журнал обмена log_file.txt в текущем каталоге (с --all - log_file-НОМЕР.txt для каждого прибора)",
     "exchange log log_file.txt in the current directory (with --all, log_file-SERIAL.txt for each instrument)"},
    {msg::kHelpValueDevice, "ПРИБОР", "SEL"},
    {msg::kHelpDevice,
     "(info, update, read) прибор по номеру из list, по порту, по серийному номеру моста или по заводскому номеру",
     "(info, update, read) the instrument by its index in list, its port, its bridge's serial number or its own serial number"},
    {msg::kHelpAll,
     "(info, update) все подключённые приборы; update обновляет их одновременно и заканчивает таблицей",
     "(info, update) every attached instrument; update updates them all at once and ends with a table"},
    {msg::kHelpValueLanguage, "ЯЗЫК", "LANGUAGE"},
    {msg::kHelpLang,
     "язык сообщений: ru или en (по умолчанию русский, английский, если LC_ALL, LC_MESSAGES или LANG начинается с en)",
     "language of the messages: ru or en (Russian by default, English when LC_ALL, LC_MESSAGES or LANG starts with en)"},
    {msg::kHelpYes, "загружать без подтверждения", "update without confirmation"},
    {msg::kHelpHelp, "эта справка", "this help"},
    {msg::kHelpVersion, "версия программы", "the program's version"},
    {msg::kHelpEndOfOptions, "конец параметров: всё, что дальше, - команда и её аргументы",
     "the end of the options: what follows is the command and its arguments"},
    {msg::kHelpExitCodes,
     "Коды завершения: 0 успех (с --all - у всех приборов), 1 ошибка операции (и порт, которым нельзя воспользоваться), 2 ошибка в командной строке, 3 прибор не найден, их несколько или такого порта нет, 130 прервано пользователем.",
     "Exit codes: 0 success (with --all, of every instrument), 1 the operation failed (also a port that cannot be used), 2 command line error, 3 no instrument, several, or no such port, 130 interrupted by the user."},
    {msg::kHelpListOr, " или ", " or "},
    {msg::kDriverSerialNote, "(по умолчанию)", "(default)"},
    {msg::kDriverLibFtdiNote, "(Linux)", "(Linux)"},
    {msg::kDriverD2xxNote, "(библиотека производителя моста)", "(the bridge vendor's library)"},
    {msg::kNewVersionClockNotSet,
     "Прибор сообщает новую версию программы: обновление выполнено, не установлены только часы прибора.",
     "The instrument reports the new firmware version: the update is done, only its clock was not set."},
    {msg::kClockNotSet, "Часы прибора не установлены: прибор не принял время.",
     "The instrument's clock was not set: it did not take the time."},
    {msg::kHelpJson,
     "(list, info, update, read, history) на стандартный вывод только JSON Lines, по объекту в строке (docs/json.md)",
     "(list, info, update, read, history) JSON Lines only on standard output, one object a line (docs/json.md)"},
    {msg::kHelpValueFile, "ФАЙЛ", "FILE"},
    {msg::kHelpRecord,
     "(update) по строке JSON в ФАЙЛ о каждой попытке обновления каждого прибора",
     "(update) a JSON line appended to FILE for each instrument's update attempt"},
    {msg::kHelpWatch,
     "(update --all) работать до Ctrl-C: обновлять каждый прибор, как только его подключат",
     "(update --all) run until Ctrl-C, updating each instrument as soon as it is plugged in"},
    {msg::kWin32WindowUsage,
     "Использование: %s [параметры]\n"
     "\n"
     "Окно обновления встроенной программы виброанализатора VXA-4410.\n"
     "Параметры разделяются пробелами.\n"
     "\n"
     "  -sim             встроенный имитатор прибора, в реальном времени\n"
     "  -port COMn       COM-порт прибора вместо поиска на USB\n"
     "  -driver ИМЯ      драйвер: serial (COM-порт, по умолчанию) или d2xx\n"
     "                   (библиотека ftd2xx.dll производителя моста)\n"
     "  -log             журнал обмена log_file.txt в текущем каталоге\n"
     "  -lang ЯЗЫК       язык окна: ru или en (по умолчанию русский, английский,\n"
     "                   если LC_ALL, LC_MESSAGES или LANG начинается с en)\n"
     "  -time            принимается для совместимости, ничего не включает\n"
     "  --help           эта справка\n"
     "  --version        версия программы\n",
     "Usage: %s [options]\n"
     "\n"
     "The firmware updater window for the VXA-4410 vibration analyzer.\n"
     "Options are separated by spaces.\n"
     "\n"
     "  -sim             the built-in simulated instrument, in real time\n"
     "  -port COMn       the instrument's COM port instead of the search on USB\n"
     "  -driver NAME     driver: serial (the COM port, default) or d2xx\n"
     "                   (the bridge vendor's library ftd2xx.dll)\n"
     "  -log             exchange log log_file.txt in the current directory\n"
     "  -lang LANGUAGE   language of the window: ru or en (Russian by default, English\n"
     "                   when LC_ALL, LC_MESSAGES or LANG starts with en)\n"
     "  -time            accepted for compatibility, switches nothing on\n"
     "  --help           this help\n"
     "  --version        the program's version\n"},
    {msg::kOwnFileIsLink, "это символическая ссылка, а по ссылке программа не пишет", "it is a symbolic link, and the program does not write through one"},
    {msg::kOwnFileNotRegular, "это не обычный файл", "it is not a regular file"},

    {msg::kWindowHelpUsage, "Использование: %s [параметры]", "Usage: %s [options]"},
    {msg::kWindowHelpIntro,
     "Окно обновления встроенной программы виброанализатора VXA-4410.\nПараметры разделяются пробелами.",
     "The firmware updater window for the VXA-4410 vibration analyzer.\nOptions are separated by spaces."},
    {msg::kWindowHelpSim, "встроенный имитатор прибора, в реальном времени",
     "the built-in simulated instrument, in real time"},
    {msg::kWindowHelpPort, "последовательный порт ПУТЬ вместо поиска на USB",
     "the serial port PATH instead of the search on USB"},
    {msg::kWindowHelpLog, "журнал обмена log_file.txt в текущем каталоге",
     "exchange log log_file.txt in the current directory"},
    {msg::kWindowHelpLang,
     "язык окна: ru или en (по умолчанию русский, английский, если LC_ALL, LC_MESSAGES или LANG начинается с en)",
     "language of the window: ru or en (Russian by default, English when LC_ALL, LC_MESSAGES or LANG starts with en)"},
    {msg::kWindowHelpTime, "принимается для совместимости, ничего не включает",
     "accepted for compatibility, switches nothing on"},
    {msg::kHelpForce,
     "(update) обновлять и прибор, у которого уже эта версия программы",
     "(update) update an instrument that has this firmware version already"},
    {msg::kJsonNeedsYes,
     "с --json команда update ни о чём не спрашивает: добавьте --yes",
     "with --json, update asks nothing: add --yes"},
};

constexpr bool IsLengthModifier(char c) {
  return c == 'h' || c == 'l' || c == 'j' || c == 'z' || c == 't' || c == 'L' || c == 'q';
}

// The next conversion of a printf format from `at` on, as its length modifiers and its letter
// ("u", "02x" gives "x", "lld" gives "lld"); "%%" is no conversion. Empty at the end.
constexpr std::string_view NextConversion(std::string_view format, size_t& at) {
  while (at < format.size()) {
    if (format[at++] != '%') continue;
    if (at < format.size() && format[at] == '%') {
      ++at;
      continue;
    }
    while (at < format.size() && std::string_view("-+ #0123456789.*").find(format[at]) !=
                                     std::string_view::npos) {
      ++at;
    }
    const size_t start = at;
    while (at < format.size() && IsLengthModifier(format[at])) ++at;
    if (at < format.size()) ++at;
    return format.substr(start, at - start);
  }
  return {};
}

constexpr bool SameConversions(std::string_view first, std::string_view second) {
  size_t i = 0;
  size_t j = 0;
  for (;;) {
    const std::string_view a = NextConversion(first, i);
    const std::string_view b = NextConversion(second, j);
    if (a != b) return false;
    if (a.empty()) return true;
  }
}

constexpr bool Present(const char* text) { return text != nullptr && text[0] != '\0'; }

template <typename Row, size_t N>
consteval bool RowsWhole(const Row (&rows)[N]) {
  for (size_t i = 0; i < N; ++i) {
    if (!Present(rows[i].russian) || !Present(rows[i].english)) return false;
  }
  return true;
}

template <size_t N>
consteval bool IdsAscending(const CatalogueEntry (&rows)[N]) {
  for (size_t i = 1; i < N; ++i) {
    if (rows[i].id <= rows[i - 1].id) return false;
  }
  return true;
}

template <size_t N>
consteval bool FormatsAgree(const CatalogueEntry (&rows)[N]) {
  for (const CatalogueEntry& row : rows) {
    if (!SameConversions(row.russian, row.english)) return false;
  }
  return true;
}

static_assert(RowsWhole(kCatalogue), "a message lacks a language");
static_assert(IdsAscending(kCatalogue), "message ids must ascend, each once");
static_assert(FormatsAgree(kCatalogue), "a message's conversions differ between the languages");

std::atomic<int32_t> g_language{kLanguageRussian};

constexpr char kFallbackPrefix[] = "UNKNOWN MESSAGE ";
constexpr size_t kFallbackSize = 36;

// Each thread has its own fallback text, so that two threads missing at the same time never
// write into one buffer.
thread_local char t_fallback[kFallbackSize];

// The string table: one row per number, 1 upwards with none left out; number 0 has no text.
struct StringTableEntry {
  int number;
  const char* russian;
  const char* english;
};

constexpr StringTableEntry kStringTable[] = {
    {str::kUpdate, "Обновление", "Update"},
    {str::kNotConnected,
     "Прибор не подключен к USB порту",
     "The instrument is not connected to the USB port"},
    {str::kLabelModel, "Модель: ", "Model: "},
    {str::kLabelSerial, "Заводской номер: ", "Serial number: "},
    {str::kLabelDeviceVersion, "Версия прибора: ", "Device version: "},
    {str::kLabelProgramVersion, "Версия программы: ", "Program version: "},
    {str::kConfirmLoad,
     "Операция загрузки программы может привести к потере\nработоспособности прибора в случае "
     "ошибки.\nПроизвести загрузку программы?",
     "Loading the program may leave the instrument unusable\nif an error occurs.\nLoad the program?"},
    {str::kLoadCompleted,
     "Загрузка программы успешно завершена",
     "The program was loaded successfully"},
    {str::kCommunicationError,
     "Ошибка связи с прибором",
     "Communication error with the instrument"},
    {str::kBatteryLow,
     "Батарея прибора недостаточно заряжена.\nПроизведите зарядку батареи.",
     "The instrument's battery is low.\nCharge the battery."},
    {str::kRomError, "Ошибка ПЗУ прибора", "Instrument ROM error"},
    {str::kBatteryCheck, "Проверка заряда батареи", "Battery charge check"},
    {str::kLoading, "Загрузка", "Loading"},
    // "Device" fits the label's fixed width, as "Прибор" does.
    {str::kLabelDevice, "Прибор", "Device"},
    {str::kLabelSoftware, "Программное обеспечение VXA-4410", "VXA-4410 Software"},
    {str::kLabelVersion,
     "Версия " VXA_PRODUCT_VERSION " Русский язык",
     "Version " VXA_PRODUCT_VERSION " English"},
};

template <size_t N>
consteval bool NumbersFromOne(const StringTableEntry (&rows)[N]) {
  for (size_t i = 0; i < N; ++i) {
    if (rows[i].number != static_cast<int>(i) + 1) return false;
  }
  return true;
}

static_assert(RowsWhole(kStringTable), "a string-table text lacks a language");
static_assert(NumbersFromOne(kStringTable), "string-table numbers must run from 1 without a gap");

const char* InLanguage(const char* russian, const char* english) {
  return g_language.load(std::memory_order_relaxed) == kLanguageEnglish ? english : russian;
}

}  // namespace

const char* MessageText(int32_t id, int32_t line) {
  const auto* const end = std::end(kCatalogue);
  const auto* const row = std::lower_bound(
      std::begin(kCatalogue), end, id,
      [](const CatalogueEntry& entry, int32_t wanted) { return entry.id < wanted; });
  if (row != end && row->id == id) return InLanguage(row->russian, row->english);
  std::snprintf(t_fallback, sizeof t_fallback, "%s%d", kFallbackPrefix, line);
  return t_fallback;
}

void SetMessageLanguage(int32_t index) {
  if (index == kLanguageRussian || index == kLanguageEnglish) {
    g_language.store(index, std::memory_order_relaxed);
  }
}

int32_t CurrentMessageLanguage() { return g_language.load(std::memory_order_relaxed); }

std::string StringTableText(int number) {
  if (number <= 0 || number > static_cast<int>(std::size(kStringTable))) return {};
  const StringTableEntry& row = kStringTable[static_cast<size_t>(number) - 1];
  return InLanguage(row.russian, row.english);
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string result;
  if (length > 0) {
    result.resize(static_cast<size_t>(length));
    std::vsnprintf(result.data(), result.size() + 1, format, args);
  }
  va_end(args);
  return result;
}

}  // namespace vxa
