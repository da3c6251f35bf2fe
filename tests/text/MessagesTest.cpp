#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "text/Cp1251.h"
#include "text/Language.h"
#include "text/Messages.h"

namespace vxa {
namespace {

struct Expected {
  int32_t id;
  const char* russian;
  const char* english;
};

// The catalogue as the instrument's documentation and the service engineers know it.
const Expected kCatalogue[] = {
    {0, "Ошибка", "Error"},
    {1, "Предупреждение", "Warning"},
    {2, "Информация", "Information"},
    {3, "Подтверждение", "Confirmation"},
    {4, "Загрузчик прибора VXA-4410", "VXA-4410 Loader"},
    {5, "Не удалось создать поток обмена", "Failed to create traffic control thread"},
    {6, "\tНе найдено подключенных устройств.\r\nПроверьте соединительные кабели USB и повторите попытку.", "\tNo device connected.\r\nCheck USB cable connection and try again."},
    {7, "Ошибка при поиске устройств (статус = %d)", "Error while searching devices (status = %d)"},
    {8, "    Найдено более одного устройства VXA-4410.\r\nОтсоедините лишние устройства VXA-4410 от USB,\r\n\tа затем повторите попытку.", "    Found more than one VXA-4410.\r\nDisconnect unnecessary VXA-4410 from USB port\r\n\tand try again."},
    {9, "Запрос на запись", "Write request"},
    {10, "Передача файла", "File transfer"},
    {11, "Верификация данных", "Data verification"},
    {12, "Не удалось открыть файл, ошибка: %s", "Failed to open file. Error: %s"},
    {13, "\tЗагрузочный образ успешно передан в прибор.\r\nЗа ходом обновления прошивки следите по дисплею прибора.", "\tBoot image transferred into device successfully.\r\nThe firmware update progress is shown on the screen."},
    {14, " из ", " from "},
    {15, "Прервать процесс загрузки?", "Interrupt load process?"},
    {21, "Несовпадение проверяемых данных", "Verified data mismatch"},
    {22, "Не найден ресурс содержащий загрузочный образ", "Resource with boot image not found"},
    {23, "Невозможно загрузить ресурс загрузочного образа", "Failed to load boot image resource"},
    {24, "Невозможно получить указатель на загрузочный образ", "Failed to get boot image pointer"},
    {25, "Неизвестный размер загрузочного образа", "Unknown size of boot image"},
    {31, "Ошибка записи в файл FTDI код ", "Error while writing into FTDI file code"},
    {32, "Переполнение файла FTDI", "FTDI file overflow"},
    {33, "Ошибка чтения файла FTDI код ", "Error while reading FTDI file code"},
    {34, "Невозможно получить статус FTDI код ", "Failed to retrieve FTDI status code"},
    {35, "Принят пакет неразрешенной длины", "The length of received packet is invalid"},
    {36, "Попытка инициализации передачи с ненулевого блока", "Attempt to initialize transfer from non-zero block"},
    {37, "Принят пакет с неразрешенным кодом подтверждения = 0x%02x", "Received packet with invalid confirm code = 0x%02x"},
    {38, "Попытка инициализации приема блоком с номером не равным 1", "Attempt to initialize receiving by block not equal to 1"},
    {39, "Недостаточно места для записи в файл", "Insufficient space to write into file"},
    {40, "Попытка перезапустить текущую транзакцию", "Attempt to restart current transaction"},
    {41, "Неверный тип передаваемого файла", "Invalid type of file to be transferred"},
    {42, "Попытка перезапустить незавершенную транзакцию", "Attempt to restart incomplete transaction"},
    {43, "Неверный тип принимаемого файла", "Invalid type of received file"},
    {44, "Не могу получить идентификатор устройства.", "Failed to retrieve device ID."},
    {45, "Прервано пользователем", "Aborted by user"},
    {46, "Поиск", "Find"},
    {47, "Загрузить", "Download"},
    {48, "Выход", "Exit"},
    {49, "Прошивка...", "Flashing..."},
    {50, "Прошивка прибора успешно завершена", "The firmware is successfully completed"},
    {51, "Ошибка связи с прибором", "Communication error with the instrument"},
    {52, "Прибор подтвердил конец файла до окончания передачи данных",
     "The instrument acknowledged the end of file before all data was sent"},
};

class MessagesTest : public ::testing::Test {
 protected:
  void TearDown() override { SetMessageLanguage(kLanguageRussian); }
};

TEST_F(MessagesTest, EveryIdHasItsTextInBothLanguages) {
  SetMessageLanguage(kLanguageRussian);
  for (const Expected& e : kCatalogue) EXPECT_STREQ(MessageText(e.id, 1), e.russian) << e.id;
  SetMessageLanguage(kLanguageEnglish);
  for (const Expected& e : kCatalogue) EXPECT_STREQ(MessageText(e.id, 1), e.english) << e.id;
}

TEST_F(MessagesTest, BothLanguagesHoldTheSameIdsAndLeaveTheGapsFree) {
  auto known = [](int32_t id) {
    return std::string(MessageText(id, -777)) != "UNKNOWN MESSAGE -777";
  };
  for (int32_t id = -5; id < 300; ++id) {
    SetMessageLanguage(kLanguageRussian);
    const bool russian = known(id);
    SetMessageLanguage(kLanguageEnglish);
    EXPECT_EQ(known(id), russian) << id;
    if ((id >= 16 && id <= 20) || (id >= 26 && id <= 30)) {
      EXPECT_FALSE(russian) << id;
    }
  }
}

TEST_F(MessagesTest, DriverStatusTextsEndWithASpaceOnlyInRussian) {
  for (int32_t id : {31, 33, 34}) {
    SetMessageLanguage(kLanguageRussian);
    EXPECT_EQ(std::string(MessageText(id, 1)).back(), ' ');
    SetMessageLanguage(kLanguageEnglish);
    EXPECT_NE(std::string(MessageText(id, 1)).back(), ' ');
  }
}

TEST_F(MessagesTest, UnknownIdsShowTheCallersLineWithNothingLeftOver) {
  EXPECT_STREQ(MessageText(26, 123456789), "UNKNOWN MESSAGE 123456789");
  EXPECT_STREQ(MessageText(16, 7), "UNKNOWN MESSAGE 7");
  EXPECT_STREQ(MessageText(-5, -42), "UNKNOWN MESSAGE -42");
  EXPECT_STREQ(MessageText(1000, -2147483647 - 1), "UNKNOWN MESSAGE -2147483648");
  SetMessageLanguage(kLanguageEnglish);
  EXPECT_STREQ(MessageText(30, 12), "UNKNOWN MESSAGE 12");
}

TEST_F(MessagesTest, MissesOnTwoThreadsDoNotMixTheirTexts) {
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int i = 0; i < 20000; ++i) {
        const int line = t == 0 ? 1 : 1000000 * t + i;
        const std::string expected = "UNKNOWN MESSAGE " + std::to_string(line);
        if (expected != MessageText(27, line)) ++wrong[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

TEST_F(MessagesTest, OnlyIndexZeroAndOneSelectALanguage) {
  SetMessageLanguage(kLanguageEnglish);
  SetMessageLanguage(2);
  EXPECT_STREQ(MessageText(0, 1), "Error");
  SetMessageLanguage(-1);
  EXPECT_STREQ(MessageText(0, 1), "Error");
  SetMessageLanguage(kLanguageRussian);
  EXPECT_STREQ(MessageText(0, 1), "Ошибка");
}

TEST(StringTableTest, TextsByNumberInEachLanguageAndEmptyOutsideTheTable) {
  struct Row {
    int number;
    const char* russian;
    const char* english;
  };
  const Row expected[] = {
    {1, "Обновление", "Update"},
    {2, "Прибор не подключен к USB порту", "The instrument is not connected to the USB port"},
    {3, "Модель: ", "Model: "},
    {4, "Заводской номер: ", "Serial number: "},
    {5, "Версия прибора: ", "Device version: "},
    {6, "Версия программы: ", "Program version: "},
    {7, "Операция загрузки программы может привести к потере\nработоспособности прибора в случае ошибки.\nПроизвести загрузку программы?",
     "Loading the program may leave the instrument unusable\nif an error occurs.\nLoad the program?"},
    {8, "Загрузка программы успешно завершена", "The program was loaded successfully"},
    {9, "Ошибка связи с прибором", "Communication error with the instrument"},
    {10, "Батарея прибора недостаточно заряжена.\nПроизведите зарядку батареи.", "The instrument's battery is low.\nCharge the battery."},
    {11, "Ошибка ПЗУ прибора", "Instrument ROM error"},
    {12, "Проверка заряда батареи", "Battery charge check"},
    {13, "Загрузка", "Loading"},
    {14, "Прибор", "Device"},
    {15, "Программное обеспечение VXA-4410", "VXA-4410 Software"},
    {16, "Версия 1.23.1 Русский язык", "Version 1.23.1 English"},
  };
  for (const int32_t language : {kLanguageRussian, kLanguageEnglish}) {
    SetMessageLanguage(language);
    for (const Row& row : expected) {
      EXPECT_EQ(StringTableText(row.number),
                language == kLanguageRussian ? row.russian : row.english)
          << row.number;
    }
    for (const int outside : {0, 17, -1}) EXPECT_EQ(StringTableText(outside), "") << outside;
  }
  SetMessageLanguage(kLanguageRussian);
}

TEST(LanguageChoiceTest, CommandLineFirstThenTheLanguageListThenAnExplicitlyEnglishLocale) {
  struct Row {
    const char* language;  // LANGUAGE
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    MessageLanguage expected;
  };
  const Row rows[] = {
      {nullptr, nullptr, nullptr, nullptr, kLanguageRussian},
      {nullptr, nullptr, nullptr, "C", kLanguageRussian},
      {nullptr, nullptr, nullptr, "C.UTF-8", kLanguageRussian},
      {nullptr, nullptr, nullptr, "ru_RU.UTF-8", kLanguageRussian},
      {nullptr, nullptr, nullptr, "en_US.UTF-8", kLanguageEnglish},
      {nullptr, nullptr, nullptr, "en", kLanguageEnglish},
      {nullptr, nullptr, nullptr, "english", kLanguageRussian},
      {nullptr, "", "en_GB", "ru_RU", kLanguageEnglish},
      {nullptr, "ru_RU.UTF-8", "en_GB", "en_US", kLanguageRussian},
      {nullptr, "en_US.UTF-8", nullptr, "ru_RU", kLanguageEnglish},
      // The list comes first; its first entry of ours wins, others and empty ones are passed
      // over, and a list without ours leaves the choice to the locale.
      {"en:ru", "ru_RU.UTF-8", nullptr, nullptr, kLanguageEnglish},
      {"ru_RU:en", nullptr, nullptr, "en_US.UTF-8", kLanguageRussian},
      {"de:fr::en_GB", "ru_RU.UTF-8", nullptr, nullptr, kLanguageEnglish},
      {"", nullptr, nullptr, "en_US.UTF-8", kLanguageEnglish},
      {"de:english", nullptr, nullptr, "en_US.UTF-8", kLanguageEnglish},
      {"de", "ru_RU.UTF-8", nullptr, nullptr, kLanguageRussian},
  };
  static const Row* current = nullptr;
  const EnvironmentLookup lookup = [](const char* name) -> const char* {
    const std::string_view variable(name);
    if (variable == "LANGUAGE") return current->language;
    if (variable == "LC_ALL") return current->lcAll;
    if (variable == "LC_MESSAGES") return current->lcMessages;
    if (variable == "LANG") return current->lang;
    return nullptr;
  };
  for (const Row& row : rows) {
    current = &row;
    EXPECT_EQ(ChooseMessageLanguage(std::nullopt, lookup), row.expected)
        << (row.language ? row.language : "-") << " " << (row.lcAll ? row.lcAll : "-") << " "
        << (row.lang ? row.lang : "-");
    EXPECT_EQ(ChooseMessageLanguage(kLanguageRussian, lookup), kLanguageRussian);
    EXPECT_EQ(ChooseMessageLanguage(kLanguageEnglish, lookup), kLanguageEnglish);
  }
  for (const char* english : {"en", "EN", "En", "eN"}) {
    EXPECT_EQ(ParseLanguageName(english), kLanguageEnglish) << english;
  }
  for (const char* russian : {"ru", "RU", "Ru"}) {
    EXPECT_EQ(ParseLanguageName(russian), kLanguageRussian) << russian;
  }
  for (const char* other : {"de", "", "e", "eng", "en_US", "ru "}) {
    EXPECT_EQ(ParseLanguageName(other), std::nullopt) << other;
  }
}

TEST(FormatTextTest, FillsTheCataloguesPlaceholders) {
  SetMessageLanguage(kLanguageEnglish);
  EXPECT_EQ(FormatText(MessageText(37, 1), 0x3A), "Received packet with invalid confirm code = 0x3a");
  EXPECT_EQ(FormatText(MessageText(7, 1), -3), "Error while searching devices (status = -3)");
  SetMessageLanguage(kLanguageRussian);
  EXPECT_EQ(FormatText(MessageText(12, 1), "нет"), "Не удалось открыть файл, ошибка: нет");
}

TEST(Cp1251Test, InstrumentTextsBecomeUtf8AndBack) {
  // "Ошибка" in Windows-1251, then the letters outside the basic block.
  const std::string cp1251 = "\xCE\xF8\xE8\xE1\xEA\xE0 \xA8\xB8 \xB9 OK";
  EXPECT_EQ(Cp1251ToUtf8(cp1251), "Ошибка Ёё № OK");
  EXPECT_EQ(Utf8ToCp1251("Ошибка Ёё № OK"), cp1251);
  EXPECT_EQ(Utf8ToCp1251("日"), "?");
  EXPECT_EQ(Cp1251ToUtf8("\x98"), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace vxa
