#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "text/Messages.h"
#include "tests/window/WindowTestSupport.h"

namespace vxa::test {
namespace {

class FormSearchTest : public FormFixture {
 protected:
  void Find() { Control<QPushButton>("FindButton")->click(); }
  QStringList MemoLines() {
    const QString text = Control<QPlainTextEdit>("Memo1")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
  }
  bool LoadEnabled() { return Control<QPushButton>("LoadButton")->isEnabled(); }
  std::string Caption() { return form->windowTitle().toStdString(); }
};

TEST_F(FormSearchTest, NoDeviceWarnsAndLeavesLoadDisabled) {
  MakeForm();
  Find();
  ASSERT_EQ(boxes.shown.size(), 1u);
  ExpectBox(boxes.shown[0], BoxSource::kSystem, BoxSymbol::kWarning, "Предупреждение",
            MessageText(msg::kNoDeviceConnected, 0));
  EXPECT_EQ(boxes.shown[0].owner, nullptr);
  EXPECT_FALSE(LoadEnabled());
  EXPECT_TRUE(MemoLines().empty());
  EXPECT_FALSE(form->Terminating());
}

TEST_F(FormSearchTest, AnyOtherFtdiDeviceBesideTheInstrumentCountsAsASecondDevice) {
  bus.AttachInstrument();
  bus.AttachForeignDevice("USB Serial Converter");
  MakeForm();
  Find();
  bus.AttachInstrument();
  Find();
  ASSERT_EQ(boxes.shown.size(), 2u);
  for (const BoxRequest& box : boxes.shown) {
    ExpectBox(box, BoxSource::kSystem, BoxSymbol::kWarning, "Предупреждение",
              MessageText(msg::kMoreThanOneDevice, 0));
  }
  EXPECT_EQ(bus.OpenHandles(), 0);
  EXPECT_FALSE(LoadEnabled());
}

TEST_F(FormSearchTest, AForeignDeviceAloneFailsToOpenInTheStandardErrorDisplay) {
  bus.AttachForeignDevice("USB Serial Converter");
  MakeForm();
  Find();
  ASSERT_EQ(boxes.shown.size(), 1u);
  // The bridge gave a bare status: under the text, what it stands for.
  ExpectBox(boxes.shown[0], BoxSource::kStandardError, BoxSymbol::kError, "LoaderVXA4410",
            "FT_Open failed\n" + FormatText(MessageText(msg::kCauseDriverStatus, 0),
                                            "FT_DEVICE_NOT_FOUND", 2u));
  EXPECT_EQ(boxes.shown[0].owner, nullptr);
  EXPECT_FALSE(LoadEnabled());
  EXPECT_FALSE(form->Terminating());
}

TEST_F(FormSearchTest, FoundInstrumentFillsTheMemoAndASilentOneLeavesItAsItWas) {
  sim::SimInstrument& instrument = bus.AttachInstrument();
  MakeForm();
  Find();
  Find();  // a second search replaces the lines, it does not add to them
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_TRUE(LoadEnabled());
  const QStringList found = MemoLines();
  ASSERT_EQ(found.size(), 4);
  EXPECT_EQ(found[0], Utf8(StringTableText(str::kLabelModel) + "VXA-4410"));
  for (int i = 1; i < 4; ++i) {
    EXPECT_TRUE(found[i].startsWith(Utf8(StringTableText(str::kLabelModel + i)))) << i;
    EXPECT_GT(found[i].size(), Utf8(StringTableText(str::kLabelModel + i)).size()) << i;
  }

  instrument.Inject({.fault = sim::Fault::Silent});
  Find();
  ASSERT_EQ(boxes.shown.size(), 1u);
  ExpectBox(boxes.shown[0], BoxSource::kApplication, BoxSymbol::kWarning, Caption(),
            StringTableText(str::kNotConnected) + "\n" + MessageText(msg::kHintInstalling, 0));
  EXPECT_EQ(boxes.shown[0].owner, form.get());
  EXPECT_EQ(Caption(), MessageText(msg::kWindowCaption, 0));
  EXPECT_FALSE(LoadEnabled());
  EXPECT_EQ(MemoLines(), found);
}

// The language chosen at start-up reaches every caption, label and line the search writes.
TEST_F(FormSearchTest, TheWindowSpeaksTheLanguageItWasGiven) {
  struct Row {
    MessageLanguage language;
    const char* caption;
    const char* version;
    const char* find;
    const char* serial;
  };
  const Row rows[] = {
      {kLanguageRussian, "Загрузчик прибора VXA-4410", "Версия 1.23.1 Русский язык", "Поиск",
       "Заводской номер: "},
      {kLanguageEnglish, "VXA-4410 Loader", "Version 1.23.1 English", "Find", "Serial number: "},
  };
  bus.AttachInstrument();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.caption);
    MakeForm(BuiltInResources(), row.language);
    EXPECT_EQ(form->windowTitle(), Utf8(row.caption));
    EXPECT_EQ(Control<QLabel>("Label3")->text(), Utf8(row.version));
    EXPECT_EQ(Control<QPushButton>("FindButton")->text(), Utf8(row.find));
    Find();
    const QStringList found = MemoLines();
    ASSERT_EQ(found.size(), 4);
    EXPECT_TRUE(found[1].startsWith(Utf8(row.serial))) << found[1].toStdString();
    form.reset();
  }
}

}  // namespace
}  // namespace vxa::test
