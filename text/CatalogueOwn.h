#pragma once

// The messages added since: help, causes, hints, the production line. New rows go at the end, in id
// order.

#include "text/Catalogue.h"

namespace vxa::catalogue {

inline constexpr CatalogueEntry kOwnRows[] = {
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
     "(info, update, read) прибор по номеру из list, по порту, по серийному номеру моста или по заводскому номеру; (history) записи прибора с этим заводским номером",
     "(info, update, read) the instrument by its index in list, its port, its bridge's serial number or its own serial number; (history) the records of the instrument of this serial number"},
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
     "  -lang ЯЗЫК       язык окна: ru или en (по умолчанию русский)\n"
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
     "  -lang LANGUAGE   language of the window: ru or en (Russian by default)\n"
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
    {msg::kHelpValuePort, "ПОРТ", "PORT"},
    {msg::kHelpPortWindows, "COM-порт прибора ПОРТ (COM5) вместо поиска на USB",
     "the instrument's COM port PORT (COM5) instead of the search on USB"},
    {msg::kHelpLangWindows, "язык сообщений: ru или en (по умолчанию русский)",
     "language of the messages: ru or en (Russian by default)"},
    {msg::kDriverSerialNoteWindows, "(COM-порт, по умолчанию)", "(the COM port, default)"},
    {msg::kHelpHistory,
     "записи --record из ФАЙЛА: когда, заводской номер, версии до и после, результат",
     "the records --record appended to FILE: when, serial number, versions before and after, outcome"},
    {msg::kRecordOpenFailed, "Не удалось открыть файл записей %s: %s",
     "Cannot open the record file %s: %s"},
    {msg::kRecordNotRegular,
     "%s — не обычный файл, а записи об обновлениях хранятся только в обычном файле.",
     "%s is not a regular file, and update records are kept only in a regular file."},
    {msg::kRecordWriteFailed, "Запись об обновлении не добавлена в %s: %s",
     "The update's record was not added to %s: %s"},
    {msg::kHistoryLineSkipped,
     "%s, строка %zu: это не запись об обновлении (оборвана или чужая), пропущена",
     "%s, line %zu: not an update record (cut short or foreign), skipped"},
    {msg::kHistoryEmpty, "Записей об обновлениях нет.", "No update records."},
    {msg::kColumnWhen, "Когда", "When"},
    {msg::kColumnVersions, "Версии", "Versions"},
    {msg::kWatchStarted,
     "Каждый подключаемый прибор VXA-4410 будет обновлён, пока станцию не остановят (Ctrl-C).",
     "Every VXA-4410 plugged in will be updated until the station is stopped (Ctrl-C)."},
    {msg::kStationUpToDate, "уже обновлён", "already up to date"},
    {msg::kStationUnplugged, "отключён", "unplugged"},
    {msg::kShortRefused, "отказ прибора", "refused"},
    {msg::kShortLinkFailed, "связь прервана", "link failed"},
    {msg::kShortNotAnswering, "не отвечает", "not answering"},
    {msg::kShortProtocolError, "ошибка протокола", "protocol error"},
    {msg::kShortVerifyMismatch, "ошибка проверки", "verify failed"},
    {msg::kShortVersionTimeout, "нет новой версии", "no new version"},
    {msg::kShortClockNotSet, "часы не заданы", "clock not set"},
    {msg::kShortInterrupted, "прервано", "interrupted"},
    {msg::kShortNotFound, "не найден", "not found"},
    {msg::kShortFailed, "ошибка", "failed"},
    // No-break spaces around the arrow: a wrapped line never parts the versions.
    {msg::kVersionChange, "Прибор %s: версия программы %s\u00a0→\u00a0%s",
     "Instrument %s: program version %s\u00a0→\u00a0%s"},
    {msg::kSameVersionAgain, "Прибор %s: версия программы уже %s, она будет записана заново",
     "Instrument %s already has program version %s: it will be written again"},
    {msg::kHelpExamples, "Примеры:", "Examples:"},
    {msg::kExampleUpdate, "обновить единственный подключённый прибор:",
     "update the one instrument attached:"},
    {msg::kExampleDevice, "обновить прибор с заводским номером 4410018, когда подключено несколько:",
     "update the instrument with serial number 4410018 when several are attached:"},
    {msg::kExampleAll, "обновить все подключённые приборы сразу:",
     "update every instrument attached at once:"},
    {msg::kExampleReadToStandardOutput, "прочитать dev_info прибора на стандартный вывод, в файл:",
     "read the instrument's dev_info to standard output, into a file:"},
    {msg::kCauseDisconnected, "прибор или его кабель USB был отсоединён", "the instrument or its USB cable was disconnected"},
    {msg::kCausePortSpeed, "порт %s не работает на скорости %u бод, а прибору нужны 3 или 1,5 Мбод: укажите порт USB-кабеля прибора", "port %s cannot run at %u baud, and the instrument needs 3 or 1.5 Mbaud: name the port of the instrument's USB cable"},
    {msg::kCausePortSpeedReported, "порт %s работает на скорости %u бод вместо %u, а прибору нужны 3 или 1,5 Мбод: укажите порт USB-кабеля прибора", "port %s runs at %u baud instead of %u, and the instrument needs 3 or 1.5 Mbaud: name the port of the instrument's USB cable"},
    {msg::kCauseBridgeSpeed, "мост не работает на скорости 3 или 1,5 Мбод, нужной прибору", "the bridge cannot run at 3 or 1.5 Mbaud, which the instrument needs"},
    {msg::kCausePortSetting, "порт %s не поддерживает эту настройку линии: %s", "port %s does not support this line setting: %s"},
    {msg::kCauseBridgeBusy, "мост занят другой программой или драйвером системы: закройте то, что его использует, и повторите", "the bridge is held by another program or by a driver of the system: close what uses it and try again"},
    {msg::kCauseDriverStatus, "драйвер вернул %s (%u)", "the driver returned %s (%u)"},
    {msg::kCauseBridgeError, "мост \"%s\": %s (код %d)", "the bridge \"%s\": %s (code %d)"},
    {msg::kHintSeveralDevices, "Или выберите один: vxa4410-cli list покажет их, --device ПРИБОР выберет один\n(по номеру из списка, порту или серийному номеру), --all возьмёт все сразу.", "Or choose one: vxa4410-cli list shows them, --device SEL picks one of them\n(by its index, port or serial number), --all takes all of them at once."},
    {msg::kHintInstalling, "Прибор, который устанавливает программу, не отвечает, пока не закончит:\nдождитесь сообщения на его экране и только потом отсоединяйте его.", "An instrument that is installing its program does not answer until it has\nfinished: wait for its display to say so before unplugging it."},
    {msg::kOptionTakesNoValue, "параметру %s значение не нужно", "option %s takes no value"},
    {msg::kCommandUsage, "; использование: %s", "; usage: %s"},
    {msg::kReadToTerminal,
     "Файл не будет выведен на терминал: его байты испортили бы экран.\nПеренаправьте стандартный вывод (> ФАЙЛ или | программа) или укажите имя файла вместо -.",
     "The file is not written to the terminal: its bytes would garble the screen.\nRedirect standard output (> FILE or | program) or give a file name instead of -."},
    {msg::kFileWrittenToStandardOutput, "Файл записан на стандартный вывод (%d байт)",
     "File written to standard output (%d bytes)"},
    {msg::kFileIsDirectory, "%s — папка, а не файл. Укажите имя файла (например, в этой папке).",
     "%s is a directory, not a file. Give the name of a file (in that directory, for instance)."},
    {msg::kVersionImage, "Прошивка: %zu байт, %s", "Boot image: %zu bytes, %s"},
    {msg::kVersionImagePlaceholder, "заглушка для испытаний (сборка без VXA_BOOT_IMAGE)",
     "placeholder for tests (no VXA_BOOT_IMAGE)"},
    {msg::kVersionImageGiven, "заданная при сборке (VXA_BOOT_IMAGE)",
     "given to the build (VXA_BOOT_IMAGE)"},
    {msg::kVersionLicence,
     "© 2026 разработчики загрузчика VXA-4410. Лицензия несвободная, права защищены.",
     "(C) 2026 The VXA-4410 loader developers. Proprietary, all rights reserved."},
    {msg::kVersionReport, "Об ошибках сообщайте: %s", "Report faults to: %s"},
    {msg::kWindowNoDisplay,
     "%s: окну негде открыться: нет графического дисплея (не задан DISPLAY или WAYLAND_DISPLAY,\nили к дисплею не подключиться). Без дисплея пользуйтесь программой для терминала:\nvxa4410-cli (vxa4410-cli --help).",
     "%s: there is no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY\nis set, or the display cannot be reached). Without a display use the terminal\nprogram: vxa4410-cli (vxa4410-cli --help)."},
};

static_assert(RowsWhole(kOwnRows), "a message lacks a language");
static_assert(IdsAscending(kOwnRows), "message ids must ascend, each once");
static_assert(FormatsAgree(kOwnRows), "a message's conversions differ between the languages");

}  // namespace vxa::catalogue
