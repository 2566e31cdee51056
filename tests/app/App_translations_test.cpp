// Every text a user sees comes through the catalogs. The tests run in a test
// language whose catalog (made from po/dorvane.pot at build time) wraps each
// text in ⟦ ⟧, so a text shown without them escaped translation: it is not
// marked in the code, or not in the catalogs.
#include "App_common.h"
#include "App_mainform.h"
#include "App_ProgressDialog.h"
#include "App_ProgramDialog.h"
#include "App_programs.h"

#include "OpenRig.h"
#include "PrivateXdg.h"
#include "ProcessTestSupport.h"
#include "ScriptedDialogs.h"
#include "TempDirectory.h"
#include "Zel_translations.h"
#include "Zel_translators.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

// The icons live in the application's static library.
static void InitResources()
{
    Q_INIT_RESOURCE(App_resources);
}

namespace {

testing::Environment* const Xdg = testing::AddGlobalTestEnvironment(new TPrivateXdgEnvironment);

// Names that stay as they are in every language, and the keys' names Qt
// itself puts after a tooltip.
const QStringList Untranslated = {QStringLiteral("Dorvane"), QStringLiteral("Ctrl"), QStringLiteral("Ins"),
                                  QStringLiteral("Del")};

// Letters that are neither inside ⟦ ⟧ nor one of the names above.
bool EscapedTranslation(const QString& text)
{
    static const QRegularExpression marked(QStringLiteral("\u27E6[^\u27E7]*\u27E7"));
    static const QRegularExpression word(QStringLiteral("\\p{L}{2,}"));
    QString rest = text;
    rest.remove(marked);
    for (const QString& name : Untranslated)
        rest.remove(name);
    return rest.contains(word);
}

// Chooses the language the texts come in from here on; "" is English.
void UseLanguage(const char* language, const char* localeDir)
{
    static bool installed = false;
    setenv("LC_ALL", "C.UTF-8", 1);
    setenv("LANGUAGE", language, 1);
    BindTranslations(TextDomain, localeDir);
    // Qt's own translations stay the first language's: only ours are compared.
    if (!installed && *language) {
        InstallTranslators();
        installed = true;
    }
}

class TranslationsTest : public testing::Test {
protected:
    TranslationsTest()
    {
        InitResources();
        UseLanguage("en@pseudo", DORVANE_TEST_LOCALE_DIR);
        SetSettingsPathForTesting(Temp / "Settings.ini");
    }
    ~TranslationsTest() override { SetSettingsPathForTesting(std::string()); }

    void Check(const QString& text, const QString& where)
    {
        if (EscapedTranslation(text))
            Escaped.insert(where.toStdString() + ": " + text.toStdString());
    }

    void Check(const std::string& text, const char* where) { Check(QString::fromStdString(text), where); }

    void CheckAction(QAction* action)
    {
        const QString where = QStringLiteral("action ") + action->objectName();
        Check(action->text(), where);
        Check(action->toolTip(), where);
        Check(action->statusTip(), where);
        if (QMenu* menu = action->menu())
            CheckActions(*menu);
    }

    void CheckActions(QWidget& widget)
    {
        for (QAction* action : widget.actions())
            CheckAction(action);
    }

    // Every text the widget and its children show, except the data named.
    void CheckWidgets(QWidget& top, const std::set<QString>& data = {})
    {
        QList<QWidget*> widgets = top.findChildren<QWidget*>();
        widgets.prepend(&top);
        for (QWidget* widget : widgets) {
            if (data.count(widget->objectName()))
                continue;
            const QString where = QString::fromLatin1(widget->metaObject()->className()) + ' ' + widget->objectName();
            if (widget->isWindow())
                Check(widget->windowTitle(), where);
            Check(widget->toolTip(), where);
            Check(widget->statusTip(), where);
            Check(widget->whatsThis(), where);
            Check(widget->accessibleName(), where);
            Check(widget->accessibleDescription(), where);
            if (auto* label = qobject_cast<QLabel*>(widget))
                Check(label->text(), where);
            if (auto* button = qobject_cast<QAbstractButton*>(widget))
                Check(button->text(), where);
            if (auto* group = qobject_cast<QGroupBox*>(widget))
                Check(group->title(), where);
            if (auto* combo = qobject_cast<QComboBox*>(widget); combo && !combo->isEditable())
                for (int i = 0; i < combo->count(); ++i)
                    Check(combo->itemText(i), where);
            if (auto* edit = qobject_cast<QLineEdit*>(widget))
                Check(edit->placeholderText(), where);
            if (auto* menu = qobject_cast<QMenu*>(widget))
                Check(menu->title(), where);
            if (auto* view = qobject_cast<QAbstractItemView*>(widget); view && view->model())
                for (int i = 0; i < view->model()->columnCount(); ++i)
                    Check(view->model()->headerData(i, Qt::Horizontal).toString(), where);
            CheckActions(*widget);
        }
    }

    std::string EscapedList() const
    {
        std::string list;
        for (const std::string& line : Escaped)
            list += "  " + line + "\n";
        return list;
    }

    TTempDirectory Temp;
    std::set<std::string> Escaped;
};

TEST_F(TranslationsTest, TheTestLanguageMarksTextsAndKeepsValues)
{
    // Sanity of the rig itself: a marked text arrives marked, a value does not.
    ASSERT_EQ(TranslationLanguage(), "en@pseudo");
    EXPECT_TRUE(EscapedTranslation(QStringLiteral("Open")));
    EXPECT_FALSE(EscapedTranslation(QString::fromUtf8(Tr("Open"))));
    EXPECT_FALSE(EscapedTranslation(QStringLiteral("\u27E6New\u27E7 (Ctrl+N)")));
}

TEST_F(TranslationsTest, TheMainWindowItsMenusAndItsQuestionsAreTranslated)
{
    TScriptedDialogs dialogs;
    dialogs.AnswerMessageBox(TModalResult::No).AnswerMessageBox(TModalResult::Ok);
    TAppMainForm form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QApplication::processEvents();
    CheckWidgets(form);
    for (QMenu* menu : form.findChildren<QMenu*>())
        CheckActions(*menu);
    for (QAction* action : form.Actions())
        CheckAction(action);

    // A question and the about box: their texts and captions.
    form.ExecuteAction(form.FindAction("Action22"));
    form.ExecuteAction(form.FindAction("Action122"));
    ASSERT_EQ(dialogs.MessageBoxes.size(), 2u);
    for (const TMessageBoxRequest& box : dialogs.MessageBoxes) {
        Check(box.Text, "message box");
        Check(box.Caption, "message box caption");
    }

    // The program dialog as Properties shows it.
    TAppProgramDialog& dialog = GetAppProgramDialog();
    CheckWidgets(dialog);
    EXPECT_EQ(EscapedList(), "");
}

class TranslatedRunTest : public TranslationsTest, protected TOpenRig {};

TEST_F(TranslatedRunTest, TheProgressDialogSpeaksTheLanguageThroughARun)
{
    // A program that cannot start (a failure and its pause), then one that
    // pauses instead of waiting (a notice): every state of the dialog.
    const std::string log = Scratch / "recorder.log";
    TScopedEnvironment out("RECORDER_OUT", log);
    TProgramEntry& viewer = AddViewer(Scratch.WriteFile("not-a-program", "text"), "\"", "\"");
    Scratch.MakeDir("docs");
    Documents.Add(CreateDocumentEntries({Scratch.WriteFile("docs/a.dorvanetest", "x")}));
    Dialog->OnNote = [&](const std::string& line) {
        // The names and the system's reason are data, not our texts.
        CheckWidgets(*Dialog, {QStringLiteral("Label3"), QStringLiteral("Label5"), QStringLiteral("Label6")});
        if (line.rfind("paused:", 0) == 0)
            Later([&] { Button(*Dialog, "Button2").click(); });
    };
    TRunWatchdog watchdog;
    Commands.Open();
    viewer.SetFile(HelperPath("recorder"));
    viewer.SetAutoPause(true);
    Documents.GetItem(0)->SetResult(TDocumentEntryResult::None);
    Commands.Open();
    EXPECT_EQ(Documents.GetItem(0)->Result(), TDocumentEntryResult::Success);
    EXPECT_EQ(EscapedList(), "");
}

// Each menu's and each window's texts with an accelerator key, by object name.
using TAccelerated = std::map<QString, std::map<QString, QString>>;

void AddAccelerated(TAccelerated& found, QWidget& window)
{
    for (QMenu* menu : window.findChildren<QMenu*>()) {
        const QList<QAction*> actions = menu->actions();
        for (qsizetype i = 0; i < actions.size(); ++i)
            if (!actions[i]->isSeparator())
                found[QStringLiteral("menu ") + menu->objectName()][QString::number(i)] = actions[i]->text();
    }
    auto& texts = found[QStringLiteral("window ") + window.objectName()];
    for (QLabel* label : window.findChildren<QLabel*>())
        if (label->buddy())
            texts[label->objectName()] = label->text();
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>())
        if (!button->text().isEmpty())
            texts[button->objectName()] = button->text();
}

// The accelerator of a text: the character after a single "&", in lower case.
QChar Accelerator(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&')
            continue;
        if (text[i + 1] != u'&')
            return text[i + 1].toLower();
        ++i;
    }
    return {};
}

TAccelerated AcceleratedTexts(const char* language)
{
    UseLanguage(language, DORVANE_BUILD_LOCALE_DIR);
    TAccelerated found;
    TAppMainForm form;
    TAppProgramDialog program;
    TAppProgressDialog progress;
    AddAccelerated(found, form);
    AddAccelerated(found, program);
    AddAccelerated(found, progress);
    return found;
}

TEST(TranslationsAccelerators, EveryLanguageKeepsEachAcceleratorAndNoTwoClashInAMenuOrWindow)
{
    InitResources();
    TTempDirectory temp;
    SetSettingsPathForTesting(temp / "Settings.ini");
    // English is what must be kept: which items have an accelerator, and the
    // few that share one already.
    std::map<std::pair<QString, QString>, QChar> english;
    for (const auto& [owner, texts] : AcceleratedTexts(""))
        for (const auto& [name, text] : texts)
            english[{owner, name}] = Accelerator(text);
    std::vector<std::string> faults;
    for (const char* language : {DORVANE_LANGUAGES}) {
        for (const auto& [owner, texts] : AcceleratedTexts(language)) {
            std::map<QChar, QString> taken; // the key's first item
            for (const auto& [name, text] : texts) {
                const QChar key = Accelerator(text);
                const QChar englishKey = english[{owner, name}];
                const std::string where = std::string(language) + " " + owner.toStdString() + ": ";
                if (key.isNull()) {
                    if (!englishKey.isNull())
                        faults.push_back(where + text.toStdString() + " has no accelerator");
                    continue;
                }
                const auto [first, fresh] = taken.emplace(key, name);
                if (!fresh && english[{owner, first->second}] != englishKey)
                    faults.push_back(where + text.toStdString() + " and " + texts.at(first->second).toStdString() +
                                     " share &" + QString(key).toStdString());
            }
        }
    }
    SetSettingsPathForTesting(std::string());
    std::string list;
    for (const std::string& fault : faults)
        list += "  " + fault + "\n";
    EXPECT_EQ(list, "");
}

} // namespace
