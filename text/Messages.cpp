#include "text/Messages.h"

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <span>

#include "Version.h"

namespace vxa {
namespace {

struct CatalogueEntry {
  int32_t id;
  const char* text;
};

// Texts are stored as UTF-8; the tables hold the same ids in the same order.
constexpr CatalogueEntry kRussian[] = {
    {msg::kCaptionError, "Ошибка"},
    {msg::kCaptionWarning, "Предупреждение"},
    {msg::kCaptionInformation, "Информация"},
    {msg::kCaptionConfirmation, "Подтверждение"},
    {msg::kWindowCaption, "Загрузчик прибора VXA-4410"},
    {msg::kThreadCreateFailed, "Не удалось создать поток обмена"},
    {msg::kNoDeviceConnected, "\tНе найдено подключенных устройств.\r\nПроверьте соединительные кабели USB и повторите попытку."},
    {msg::kSearchFailedStatus, "Ошибка при поиске устройств (статус = %d)"},
    {msg::kMoreThanOneDevice, "    Найдено более одного устройства VXA-4410.\r\nОтсоедините лишние устройства VXA-4410 от USB,\r\n\tа затем повторите попытку."},
    {msg::kStateWriteRequest, "Запрос на запись"},
    {msg::kStateFileTransfer, "Передача файла"},
    {msg::kStateVerification, "Верификация данных"},
    {msg::kOpenFileFailed, "Не удалось открыть файл, ошибка: %s"},
    {msg::kImageTransferred, "\tЗагрузочный образ успешно передан в прибор.\r\nЗа ходом обновления прошивки следите по дисплею прибора."},
    {msg::kProgressFrom, " из "},
    {msg::kInterruptLoad, "Прервать процесс загрузки?"},
    {msg::kVerifiedDataMismatch, "Несовпадение проверяемых данных"},
    {msg::kImageNotFound, "Не найден ресурс содержащий загрузочный образ"},
    {msg::kImageLoadFailed, "Невозможно загрузить ресурс загрузочного образа"},
    {msg::kImagePointerFailed, "Невозможно получить указатель на загрузочный образ"},
    {msg::kImageSizeUnknown, "Неизвестный размер загрузочного образа"},
    {msg::kFtdiWriteError, "Ошибка записи в файл FTDI код "},
    {msg::kFtdiOverflow, "Переполнение файла FTDI"},
    {msg::kFtdiReadError, "Ошибка чтения файла FTDI код "},
    {msg::kFtdiStatusError, "Невозможно получить статус FTDI код "},
    {msg::kInvalidPacketLength, "Принят пакет неразрешенной длины"},
    {msg::kTransferFromNonZeroBlock, "Попытка инициализации передачи с ненулевого блока"},
    {msg::kInvalidConfirmCode, "Принят пакет с неразрешенным кодом подтверждения = 0x%02x"},
    {msg::kReceiveNotFromBlock1, "Попытка инициализации приема блоком с номером не равным 1"},
    {msg::kInsufficientSpace, "Недостаточно места для записи в файл"},
    {msg::kRestartCurrentTransaction, "Попытка перезапустить текущую транзакцию"},
    {msg::kInvalidFileTypeToSend, "Неверный тип передаваемого файла"},
    {msg::kRestartIncompleteTransaction, "Попытка перезапустить незавершенную транзакцию"},
    {msg::kInvalidFileTypeToReceive, "Неверный тип принимаемого файла"},
    {msg::kDeviceIdFailed, "Не могу получить идентификатор устройства."},
    {msg::kAbortedByUser, "Прервано пользователем"},
    {msg::kButtonFind, "Поиск"},
    {msg::kButtonLoad, "Загрузить"},
    {msg::kButtonExit, "Выход"},
    {msg::kStateFlashing, "Прошивка..."},
    {msg::kFirmwareCompleted, "Прошивка прибора успешно завершена"},    {msg::kCommunicationError, "Ошибка связи с прибором"},
    {msg::kEndOfFileTooEarly, "Прибор подтвердил конец файла до окончания передачи данных"},
    {msg::kFirmwareUntouched, "Программа прибора не изменена: команда установки не отправлялась."},
    {msg::kInstallUnderWay, "Прибор устанавливает новую программу: не отключайте его до окончания установки."},
    {msg::kConfirmNeedsTerminal, "Загрузка требует подтверждения, но ввод идёт не с терминала.\nЧтобы загрузить без вопроса, добавьте --yes."},
    {msg::kAnswerPrompt, " [д/н]: "},
    {msg::kUpdateDeclined, "Загрузка отменена."},
    {msg::kProgressRate, "%.0f КБ/с"},
    {msg::kProgressTimeLeft, "осталось %d:%02d"},
    {msg::kDeviceCount, "Подключено устройств FTDI: %u"},
    {msg::kStateFileRead, "Чтение файла %s"},
    {msg::kFileCreateFailed, "Не удалось создать файл %s: %s"},
    {msg::kFileSaveFailed, "Не удалось сохранить файл %s: %s"},
    {msg::kFileWriteFailed, "Ошибка записи в файл: %s"},
    {msg::kFileSaved, "Файл %s сохранён (%d байт)"},
    {msg::kCliUsage,
     "Использование: %s [параметры] КОМАНДА\n"
     "\n"
     "Команды:\n"
     "  list             число подключенных устройств FTDI, их описания, порты\n"
     "                   и серийные номера мостов\n"
     "  info             найти прибор и показать модель, номер и версии\n"
     "  update           загрузить в прибор новую программу\n"
     "  read ТИП ФАЙЛ    прочитать файл прибора (kernel, dev_info, dev_caliber,\n"
     "                   sensor0, sensor1, swap) в ФАЙЛ\n"
     "\n"
     "Параметры:\n"
     "  --sim            встроенный имитатор прибора\n"
     "  --fast           (с --sim) имитатор в виртуальном времени, без ожидания\n"
     "  --port ПУТЬ      последовательный порт ПУТЬ (/dev/ttyUSB0, COM5)\n"
     "  --driver ИМЯ     драйвер: serial (по умолчанию), libftdi (Linux)\n"
     "                   или d2xx (библиотека производителя моста)\n"
     "  --log            журнал обмена log_file.txt в текущем каталоге\n"
     "                   (с --all - log_file-НОМЕР.txt для каждого прибора)\n"
     "  --device ПРИБОР  (info, update, read) прибор по номеру из list, по порту,\n"
     "                   по серийному номеру моста или по заводскому номеру\n"
     "  --all            (info, update) все подключённые приборы; update обновляет\n"
     "                   их одновременно и заканчивает таблицей\n"
     "  --lang ЯЗЫК      язык сообщений: ru или en (по умолчанию русский,\n"
     "                   английский, если LC_ALL, LC_MESSAGES или LANG начинается с en)\n"
     "  -y, --yes        загружать без подтверждения\n"
     "  -h, --help       эта справка\n"
     "  -V, --version    версия программы\n"
     "  --               конец параметров: всё, что дальше, - команда и её аргументы\n"
     "\n"
     "Коды завершения: 0 успех (с --all - у всех приборов), 1 ошибка операции\n"
     "(и порт, которым нельзя воспользоваться), 2 ошибка в командной строке,\n"
     "3 прибор не найден, их несколько или такого порта нет, 130 прервано\n"
     "пользователем.\n"},
    {msg::kUnknownOption, "неизвестный параметр: %s"},
    {msg::kMissingArgument, "параметру %s нужно значение"},
    {msg::kNoCommand, "не задана команда"},
    {msg::kUnknownCommand, "неизвестная команда: %s"},
    {msg::kWrongArgumentCount, "неверное число аргументов команды %s"},
    {msg::kUnknownFileKind, "неизвестный тип файла: %s (kernel, dev_info, dev_caliber, sensor0, sensor1, swap)"},
    {msg::kUnknownDriver, "неизвестный драйвер: %s (serial, libftdi или d2xx)"},
    {msg::kConflictingOptions, "параметры %s и %s несовместимы"},
    {msg::kOptionNeedsSim, "параметр %s действует только вместе с --sim"},
    {msg::kInvalidFault, "неверное описание отказа: %s"},
    {msg::kBackendFailed, "Не удалось подготовить драйвер: %s"},
    {msg::kInvalidOptionValue, "неверное значение параметра %s: %s"},
    {msg::kTryHelp, "(подробнее: %s --help)"},
    {msg::kFileNotRegular, "%s — не обычный файл, и записывать в него программа не будет.\nУкажите вместо него - (стандартный вывод) и перенаправьте вывод средствами оболочки."},
    {msg::kWindowUsage,
     "Использование: %s [параметры]\n"
     "\n"
     "Окно обновления встроенной программы виброанализатора VXA-4410.\n"
     "Параметры разделяются пробелами.\n"
     "\n"
     "  -sim             встроенный имитатор прибора, в реальном времени\n"
     "  -port ПУТЬ       последовательный порт ПУТЬ вместо поиска на USB\n"
     "  -driver ИМЯ      драйвер: serial (по умолчанию) или libftdi\n"
     "  -log             журнал обмена log_file.txt в текущем каталоге\n"
     "  -lang ЯЗЫК       язык окна: ru или en (по умолчанию русский, английский,\n"
     "                   если LC_ALL, LC_MESSAGES или LANG начинается с en)\n"
     "  -time            принимается для совместимости, ничего не включает\n"
     "  --help           эта справка\n"
     "  --version        версия программы\n"},
    {msg::kD2xxLibraryMissing, "не загружается библиотека драйвера %s: %s"},
    {msg::kD2xxFunctionMissing, "в библиотеке драйвера %s нет функции %s"},
    {msg::kComPortMissing, "порта %s нет"},
    {msg::kComPortBusy, "порт %s занят другой программой"},
    {msg::kComPortFailed, "порт %s: %s"},
    {msg::kNoFtdiDeviceFound, "не подключено ни одного устройства FTDI (%s)"},
    {msg::kNewProgramVersion, "Прибор сообщает версию программы %s"},
    {msg::kDeviceClockSet, "Часы прибора установлены: %s"},
    {msg::kBytesReceived, "(получено %d байт)"},
    {msg::kInstrumentUnchanged, "Прибор не изменён: из него только читали."},
    {msg::kAnswerChoices, "Ответьте д или да, чтобы продолжить, н или нет, чтобы отказаться (можно и y, yes, n, no)."},
    {msg::kNotSerialPort, "%s — не последовательный порт"},
    {msg::kPortPermission, "нет доступа к %s: добавьте пользователя в группу %s и войдите в систему заново"},
    {msg::kNoDeviceDescribed, "ни одно устройство FTDI не называет себя \"%s\" (найдены: %s)"},
    {msg::kUsbNodePermission, "нет доступа к USB-устройству FTDI %s: установите правило udev для производителя 0403 и изделий FTDI (MODE=\"0660\" с GROUP=\"plugdev\" или TAG+=\"uaccess\"), затем подключите прибор заново"},
    {msg::kBridgeHeld, "устройство FTDI занято драйвером ядра ftdi_sio или другой программой (%s): закройте то, что использует его порт /dev/ttyUSB, или выберите драйвер serial"},
    {msg::kFirmwareUnchangedRepeat, "Программа прибора не изменена, обновление можно повторить."},
    {msg::kInstallRefused, "Прибор отказался устанавливать новую программу: %s"},
    {msg::kCloseDuringInstall, "Прибор устанавливает новую программу. Не отключайте его от USB и не выключайте, пока установка не закончится.\nЗакрытие программы установку не остановит.\nЗакрыть программу?"},
    {msg::kVersionWaitTime, "%d:%02d из %d:%02d"},
    {msg::kVerifyMismatchAt, "Первое различие по смещению %u, сравнено байт: %u"},
    {msg::kBridgeLine, "%u: %s; порт: %s; серийный номер моста: %s"},
    {msg::kNoSuchInstrument, "Прибор %s не найден: нет ни устройства с таким номером, портом или серийным номером моста, ни прибора с таким заводским номером."},
    {msg::kNotTheInstrument, "Устройство %s - не прибор VXA-4410: оно называет себя \"%s\"."},
    {msg::kSerialNotUnique, "Заводской номер %s есть у нескольких приборов: выберите прибор по номеру или порту (list)."},
    {msg::kColumnSerial, "Заводской номер"},
    {msg::kColumnPort, "Порт"},
    {msg::kColumnOutcome, "Результат"},
    {msg::kColumnVersion, "Новая версия"},
    {msg::kColumnTime, "Время"},
    {msg::kOutcomeUpdated, "обновлён"},
    {msg::kStationSummary, "Обновлено приборов: %d из %d"},
    {msg::kStationAboutToUpdate, "Будут обновлены все подключённые приборы VXA-4410: %d."},
    {msg::kStationSearching, "Поиск прибора"},
    {msg::kOptionNeedsCommand, "параметр %s действует только с командами %s"},
    {msg::kBridgeGone, "устройства FTDI %s больше нет: его отключили после поиска"},
};

constexpr CatalogueEntry kEnglish[] = {
    {msg::kCaptionError, "Error"},
    {msg::kCaptionWarning, "Warning"},
    {msg::kCaptionInformation, "Information"},
    {msg::kCaptionConfirmation, "Confirmation"},
    {msg::kWindowCaption, "VXA-4410 Loader"},
    {msg::kThreadCreateFailed, "Failed to create traffic control thread"},
    {msg::kNoDeviceConnected, "\tNo device connected.\r\nCheck USB cable connection and try again."},
    {msg::kSearchFailedStatus, "Error while searching devices (status = %d)"},
    {msg::kMoreThanOneDevice, "    Found more than one VXA-4410.\r\nDisconnect unnecessary VXA-4410 from USB port\r\n\tand try again."},
    {msg::kStateWriteRequest, "Write request"},
    {msg::kStateFileTransfer, "File transfer"},
    {msg::kStateVerification, "Data verification"},
    {msg::kOpenFileFailed, "Failed to open file. Error: %s"},
    {msg::kImageTransferred, "\tBoot image transferred into device successfully.\r\nThe firmware update progress is shown on the screen."},
    {msg::kProgressFrom, " from "},
    {msg::kInterruptLoad, "Interrupt load process?"},
    {msg::kVerifiedDataMismatch, "Verified data mismatch"},
    {msg::kImageNotFound, "Resource with boot image not found"},
    {msg::kImageLoadFailed, "Failed to load boot image resource"},
    {msg::kImagePointerFailed, "Failed to get boot image pointer"},
    {msg::kImageSizeUnknown, "Unknown size of boot image"},
    {msg::kFtdiWriteError, "Error while writing into FTDI file code"},
    {msg::kFtdiOverflow, "FTDI file overflow"},
    {msg::kFtdiReadError, "Error while reading FTDI file code"},
    {msg::kFtdiStatusError, "Failed to retrieve FTDI status code"},
    {msg::kInvalidPacketLength, "The length of received packet is invalid"},
    {msg::kTransferFromNonZeroBlock, "Attempt to initialize transfer from non-zero block"},
    {msg::kInvalidConfirmCode, "Received packet with invalid confirm code = 0x%02x"},
    {msg::kReceiveNotFromBlock1, "Attempt to initialize receiving by block not equal to 1"},
    {msg::kInsufficientSpace, "Insufficient space to write into file"},
    {msg::kRestartCurrentTransaction, "Attempt to restart current transaction"},
    {msg::kInvalidFileTypeToSend, "Invalid type of file to be transferred"},
    {msg::kRestartIncompleteTransaction, "Attempt to restart incomplete transaction"},
    {msg::kInvalidFileTypeToReceive, "Invalid type of received file"},
    {msg::kDeviceIdFailed, "Failed to retrieve device ID."},
    {msg::kAbortedByUser, "Aborted by user"},
    {msg::kButtonFind, "Find"},
    {msg::kButtonLoad, "Download"},
    {msg::kButtonExit, "Exit"},
    {msg::kStateFlashing, "Flashing..."},
    {msg::kFirmwareCompleted, "The firmware is successfully completed"},    {msg::kCommunicationError, "Communication error with the instrument"},
    {msg::kEndOfFileTooEarly, "The instrument acknowledged the end of file before all data was sent"},
    {msg::kFirmwareUntouched, "The instrument's firmware is untouched: the install request was not sent."},
    {msg::kInstallUnderWay, "The instrument is installing the new firmware: do not unplug it until the installation is over."},
    {msg::kConfirmNeedsTerminal, "The update needs a confirmation, but the input is not a terminal.\nAdd --yes to update without the question."},
    {msg::kAnswerPrompt, " [y/n]: "},
    {msg::kUpdateDeclined, "Update cancelled."},
    {msg::kProgressRate, "%.0f KB/s"},
    {msg::kProgressTimeLeft, "%d:%02d left"},
    {msg::kDeviceCount, "FTDI devices attached: %u"},
    {msg::kStateFileRead, "Reading file %s"},
    {msg::kFileCreateFailed, "Failed to create file %s: %s"},
    {msg::kFileSaveFailed, "Failed to save file %s: %s"},
    {msg::kFileWriteFailed, "Error writing the file: %s"},
    {msg::kFileSaved, "File %s saved (%d bytes)"},
    {msg::kCliUsage,
     "Usage: %s [options] COMMAND\n"
     "\n"
     "Commands:\n"
     "  list             the number of attached FTDI devices, their descriptions,\n"
     "                   ports and bridge serial numbers\n"
     "  info             find the instrument, show its model, number and versions\n"
     "  update           load the new firmware into the instrument\n"
     "  read KIND FILE   read one of the instrument's files (kernel, dev_info,\n"
     "                   dev_caliber, sensor0, sensor1, swap) into FILE\n"
     "\n"
     "Options:\n"
     "  --sim            the built-in simulated instrument\n"
     "  --fast           (with --sim) the simulator in virtual time, no waiting\n"
     "  --port PATH      the serial port PATH (/dev/ttyUSB0, COM5)\n"
     "  --driver NAME    driver: serial (default), libftdi (Linux)\n"
     "                   or d2xx (the bridge vendor's library)\n"
     "  --log            exchange log log_file.txt in the current directory\n"
     "                   (with --all, log_file-SERIAL.txt for each instrument)\n"
     "  --device SEL     (info, update, read) the instrument by its index in list,\n"
     "                   its port, its bridge's serial number or its own serial number\n"
     "  --all            (info, update) every attached instrument; update updates\n"
     "                   them all at once and ends with a table\n"
     "  --lang LANGUAGE  language of the messages: ru or en (Russian by default,\n"
     "                   English when LC_ALL, LC_MESSAGES or LANG starts with en)\n"
     "  -y, --yes        update without confirmation\n"
     "  -h, --help       this help\n"
     "  -V, --version    the program's version\n"
     "  --               the end of the options: what follows is the command and its arguments\n"
     "\n"
     "Exit codes: 0 success (with --all, of every instrument), 1 the operation failed\n"
     "(also a port that cannot be used), 2 command line error, 3 no instrument,\n"
     "several, or no such port, 130 interrupted by the user.\n"},
    {msg::kUnknownOption, "unknown option: %s"},
    {msg::kMissingArgument, "option %s requires a value"},
    {msg::kNoCommand, "no command given"},
    {msg::kUnknownCommand, "unknown command: %s"},
    {msg::kWrongArgumentCount, "wrong number of arguments for command %s"},
    {msg::kUnknownFileKind, "unknown file kind: %s (kernel, dev_info, dev_caliber, sensor0, sensor1, swap)"},
    {msg::kUnknownDriver, "unknown driver: %s (serial, libftdi or d2xx)"},
    {msg::kConflictingOptions, "options %s and %s cannot be combined"},
    {msg::kOptionNeedsSim, "option %s works only together with --sim"},
    {msg::kInvalidFault, "invalid fault description: %s"},
    {msg::kBackendFailed, "Failed to set up the driver: %s"},
    {msg::kInvalidOptionValue, "invalid value of option %s: %s"},
    {msg::kTryHelp, "(try %s --help)"},
    {msg::kFileNotRegular, "%s is not a regular file, and the program will not write into it.\nGive - (standard output) instead and redirect it with the shell."},
    {msg::kWindowUsage,
     "Usage: %s [options]\n"
     "\n"
     "The firmware updater window for the VXA-4410 vibration analyzer.\n"
     "Options are separated by spaces.\n"
     "\n"
     "  -sim             the built-in simulated instrument, in real time\n"
     "  -port PATH       the serial port PATH instead of the search on USB\n"
     "  -driver NAME     driver: serial (default) or libftdi\n"
     "  -log             exchange log log_file.txt in the current directory\n"
     "  -lang LANGUAGE   language of the window: ru or en (Russian by default, English\n"
     "                   when LC_ALL, LC_MESSAGES or LANG starts with en)\n"
     "  -time            accepted for compatibility, switches nothing on\n"
     "  --help           this help\n"
     "  --version        the program's version\n"},
    {msg::kD2xxLibraryMissing, "cannot load the driver library %s: %s"},
    {msg::kD2xxFunctionMissing, "the driver library %s has no function %s"},
    {msg::kComPortMissing, "there is no port %s"},
    {msg::kComPortBusy, "port %s is in use by another program"},
    {msg::kComPortFailed, "port %s: %s"},
    {msg::kNoFtdiDeviceFound, "no FTDI device is attached (%s)"},
    {msg::kNewProgramVersion, "The instrument reports program version %s"},
    {msg::kDeviceClockSet, "The instrument's clock was set to %s"},
    {msg::kBytesReceived, "(%d bytes received)"},
    {msg::kInstrumentUnchanged, "The instrument was not changed: it was only read from."},
    {msg::kAnswerChoices, "Answer y or yes to go on, n or no to decline (д, да, н, нет also do)."},
    {msg::kNotSerialPort, "%s is not a serial port"},
    {msg::kPortPermission, "permission denied on %s: add the user to group %s and log in again"},
    {msg::kNoDeviceDescribed, "no FTDI device is described as \"%s\" (found: %s)"},
    {msg::kUsbNodePermission, "no permission on the FTDI device's USB node %s: install a udev rule for vendor 0403 and the FTDI product ids (MODE=\"0660\" with GROUP=\"plugdev\", or TAG+=\"uaccess\"), then plug the instrument in again"},
    {msg::kBridgeHeld, "the FTDI device is held by the kernel's ftdi_sio driver or another program (%s): close what uses its /dev/ttyUSB port, or choose the serial driver"},
    {msg::kFirmwareUnchangedRepeat, "The instrument's firmware is unchanged; the update can be repeated."},
    {msg::kInstallRefused, "The instrument refused to install the new firmware: %s"},
    {msg::kCloseDuringInstall, "The instrument is installing the new firmware. Do not unplug it or switch it off until the installation is over.\nClosing the program does not stop the installation.\nClose the program?"},
    {msg::kVersionWaitTime, "%d:%02d of %d:%02d"},
    {msg::kVerifyMismatchAt, "First difference at offset %u; %u bytes compared"},
    {msg::kBridgeLine, "%u: %s; port: %s; bridge serial number: %s"},
    {msg::kNoSuchInstrument, "Instrument %s not found: no device has that index, port or bridge serial number, and no instrument has that serial number."},
    {msg::kNotTheInstrument, "Device %s is not a VXA-4410: it calls itself \"%s\"."},
    {msg::kSerialNotUnique, "Several instruments have serial number %s: choose one by its index or port (list)."},
    {msg::kColumnSerial, "Serial number"},
    {msg::kColumnPort, "Port"},
    {msg::kColumnOutcome, "Outcome"},
    {msg::kColumnVersion, "New version"},
    {msg::kColumnTime, "Time"},
    {msg::kOutcomeUpdated, "updated"},
    {msg::kStationSummary, "Instruments updated: %d of %d"},
    {msg::kStationAboutToUpdate, "Every attached VXA-4410 will be updated: %d."},
    {msg::kStationSearching, "Looking for the instrument"},
    {msg::kOptionNeedsCommand, "option %s works only with the commands %s"},
    {msg::kBridgeGone, "the FTDI device %s is no longer there: it was unplugged after the search"},
};

static_assert(std::size(kRussian) == std::size(kEnglish));

// Both tables list the same ids in the same order, each once: a second text under an id already
// taken would never be found, as when two changes each append the next free number.
constexpr bool IdsAreDistinctAndInStep() {
  for (size_t i = 0; i < std::size(kRussian); ++i) {
    if (kRussian[i].id != kEnglish[i].id) return false;
    for (size_t j = 0; j < i; ++j) {
      if (kRussian[j].id == kRussian[i].id) return false;
    }
  }
  return true;
}
static_assert(IdsAreDistinctAndInStep());

constexpr std::array<std::span<const CatalogueEntry>, 2> kTables = {kRussian, kEnglish};

std::atomic<int32_t> g_language{kLanguageRussian};

constexpr char kFallbackPrefix[] = "UNKNOWN MESSAGE ";
constexpr size_t kFallbackSize = 36;

// Each thread has its own fallback text, so that two threads missing at the same time never
// write into one buffer.
thread_local char t_fallback[kFallbackSize];

// The string table, one per language with the same numbers; number 0 has no text.
constexpr const char* kStringTableRussian[] = {
    nullptr,
    "Обновление",
    "Прибор не подключен к USB порту",
    "Модель: ",
    "Заводской номер: ",
    "Версия прибора: ",
    "Версия программы: ",
    "Операция загрузки программы может привести к потере\nработоспособности прибора в случае "
    "ошибки.\nПроизвести загрузку программы?",
    "Загрузка программы успешно завершена",
    "Ошибка связи с прибором",
    "Батарея прибора недостаточно заряжена.\nПроизведите зарядку батареи.",
    "Ошибка ПЗУ прибора",
    "Проверка заряда батареи",
    "Загрузка",
    "Прибор",
    "Программное обеспечение VXA-4410",
    "Версия " VXA_PRODUCT_VERSION " Русский язык",
};

constexpr const char* kStringTableEnglish[] = {
    nullptr,
    "Update",
    "The instrument is not connected to the USB port",
    "Model: ",
    "Serial number: ",
    "Device version: ",
    "Program version: ",
    "Loading the program may leave the instrument unusable\nif an error occurs.\nLoad the "
    "program?",
    "The program was loaded successfully",
    "Communication error with the instrument",
    "The instrument's battery is low.\nCharge the battery.",
    "Instrument ROM error",
    "Battery charge check",
    "Loading",
    "Device",  // fits the label's fixed width, as "Прибор" does
    "VXA-4410 Software",
    "Version " VXA_PRODUCT_VERSION " English",
};

static_assert(std::size(kStringTableRussian) == std::size(kStringTableEnglish));

constexpr std::array<std::span<const char* const>, 2> kStringTables = {kStringTableRussian,
                                                                       kStringTableEnglish};

}  // namespace

const char* MessageText(int32_t id, int32_t line) {
  for (const CatalogueEntry& entry : kTables[g_language.load(std::memory_order_relaxed)]) {
    if (entry.id == id) return entry.text;
  }
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
  const std::span<const char* const> table =
      kStringTables[g_language.load(std::memory_order_relaxed)];
  if (number <= 0 || number >= static_cast<int>(table.size())) return {};
  return table[static_cast<size_t>(number)];
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
