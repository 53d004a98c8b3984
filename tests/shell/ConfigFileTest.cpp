#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <csignal>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>

#include "AreaErrors.h"
#include "ConfigFile.h"
#include "ConfigFileError.h"
#include "DetectionArea.h"
#include "FileCommands.h"
#include "Reporter.h"
#include "frmKey.h"
#include "support/AreaWindowParts.h"
#include "support/DialogAnswers.h"

using namespace ostrel;
using areas::DetectionArea;
using shell::ConfigFileError;
using shell::LoadConfig;
using shell::SaveConfig;

namespace {

// One area "Door" at the default settings.
const QByteArray kDoorFile =
    "OstrelConfig\r\nArea,Door\r\nLeft,0.33\r\nWidth,0.33\r\nTop,0.33\r\nHeight,0.33\r\n"
    "MotionActive,-1\r\nMotionSens,222\r\nMotionEvent,-1\r\nMotionThreshold,100\r\n"
    "ColorActive,-1\r\nColorSens,96\r\nColorEvent,-1\r\nColorThreshold,100\r\nDetColor,0\r\n"
    "ShowPicture,-1\r\nShowLabel,1\r\nShowFrame,-1\r\nForeColor,16777215\r\n"
    "End,----------------------------------------\r\n";
const QString kFileError = QStringLiteral("An error occurred while processing the specified file!");

// A main window with the area menus and a registry over a 320 x 240 frame, and a folder for
// the files. Messages are boxes that hold nothing; a modal dialog fails the test.
class ConfigFile : public ::testing::Test, protected AreaWindowParts {
  protected:
    QTemporaryDir dir;
    DialogAnswers answers;
    shell::Reporter reporter{false, QStringLiteral("test"), &window};

    ConfigFile() {
        registry.setDisplayColRes(4);
        window.setWindowTitle("Ostrel");
        window.show();
    }
    // The small files a test leaves seed the reader's fuzzer (scripts/fuzz).
    ~ConfigFile() override {
        const QString seeds = qEnvironmentVariable("OSTREL_SEED_CORPUS");
        for (const QFileInfo& file : QDir(dir.path()).entryInfoList({"*.cfg"}, QDir::Files)) {
            if (!seeds.isEmpty() && file.size() <= 8192 && QDir().mkpath(seeds)) {
                const QString name = QString::number(qHash(read(file.fileName())), 16);
                QFile::copy(file.filePath(), seeds + "/" + name);
            }
        }
    }

    QString path(const QString& name) const { return dir.filePath(name); }
    QString write(const QString& name, const QByteArray& bytes) const {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }
    QByteArray read(const QString& name) const {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    bool load(const QByteArray& bytes) {
        return LoadConfig(registry, write("in.cfg", bytes), reporter);
    }
    // Closes the open message boxes (title "Ostrel", information icon) and returns their texts.
    QStringList takeBoxes() {
        QStringList texts;
        for (QMessageBox* box : reporter.openBoxes()) {
            EXPECT_EQ(box->windowTitle(), "Ostrel");
            EXPECT_EQ(box->icon(), QMessageBox::Information);
            texts << box->text();
            box->close();
        }
        return texts;
    }
    int count() const { return registry.areaCollection().Count(); }
    QStringList keys() const {
        QStringList keys;
        for (const auto& item : registry.areaCollection().items()) {
            keys << item->Key();
        }
        return keys;
    }
};

}  // namespace

TEST_F(ConfigFile, WritesOneBlockPerAreaInTheOlderProgramsForm) {
    registry.AddArea("Door");
    ASSERT_TRUE(SaveConfig(registry, path("door.cfg")));
    EXPECT_EQ(read("door.cfg"), kDoorFile);

    registry.ClearAreas();
    ASSERT_TRUE(SaveConfig(registry, path("none.cfg")));
    EXPECT_EQ(read("none.cfg"), "OstrelConfig\r\n");
    for (const QByteArray& empty : {QByteArray("OstrelConfig\r\n"), QByteArray()}) {
        registry.AddArea("Old");
        EXPECT_TRUE(load(empty));
        EXPECT_EQ(count(), 0);
        EXPECT_FALSE(menu.mnuSelect->isEnabled());
    }

    // Nothing is read or written while an area is being edited.
    registry.AddArea("Door");
    registry.setEditMode(true);
    EXPECT_FALSE(SaveConfig(registry, path("x.cfg")));
    EXPECT_FALSE(QFile::exists(path("x.cfg")));
    EXPECT_FALSE(LoadConfig(registry, path("missing.cfg"), reporter)) << "the file is not opened";
    EXPECT_EQ(keys(), QStringList{"Door"});
}

TEST_F(ConfigFile, DecimalCommaLocaleStillWritesAPointAndLoadsEverywhere) {
    QLocale::setDefault(QLocale(QLocale::German));
    registry.AddArea("Door")->Size(0.33, 0.5, 0.125, 1);
    const bool saved = SaveConfig(registry, path("de.cfg"));
    const bool loaded = LoadConfig(registry, path("de.cfg"), reporter);
    QLocale::setDefault(QLocale::c());
    ASSERT_TRUE(saved && loaded);
    EXPECT_TRUE(read("de.cfg").contains("\r\nLeft,0.33\r\nWidth,0.125\r\nTop,0.5\r\nHeight,1\r\n"));
    EXPECT_EQ(area(1).Left(), 0.33);
    ASSERT_TRUE(LoadConfig(registry, path("de.cfg"), reporter));
    EXPECT_EQ(area(1).Width(), 0.125);
}

TEST_F(ConfigFile, SaveThenLoadGivesTheSameAreas) {
    for (int n = 1; n <= 3; ++n) {
        DetectionArea& a = *registry.AddArea(QStringLiteral("Area %1").arg(n));
        a.Size(n / 8.0, 0.123456789012345, 1.0 / 16, 0.5);
        a.setMotionActive(n == 2);
        a.setMotionSens(10 + n);
        a.setMotionEvent(n == 1);
        a.setMotionThreshold(50 + n);
        a.setColorActive(n == 3);
        a.setColorSens(30 + n);
        a.setColorEvent(false);
        a.setColorThreshold(40 + n);
        a.setDetColor(0x123456 + n);
        a.setShowPicture(false);
        a.setShowLabel(n - 1);
        a.setShowFrame(n != 2);
        a.setForeColor(std::int32_t(0x80000000u + std::uint32_t(n)));  // a system colour
    }
    registry.SelectArea(registry.FindAreaPosition(3));
    ASSERT_TRUE(SaveConfig(registry, path("three.cfg")));
    EXPECT_TRUE(read("three.cfg").contains("\r\nForeColor,-2147483645\r\n"));

    // Every setting differs between the fields and the areas, so a value read into the wrong
    // place, or lost, shows in the file saved again.
    registry.RemoveArea(std::int64_t(2));
    registry.AddArea("Other");
    ASSERT_TRUE(LoadConfig(registry, path("three.cfg"), reporter));
    ASSERT_TRUE(SaveConfig(registry, path("again.cfg")));
    EXPECT_EQ(read("again.cfg"), read("three.cfg"));
    EXPECT_EQ(area(1).Top(), 0.123456789012345);
    EXPECT_EQ(registry.SelectedPosition(), 0) << "the first area is selected after a load";
    EXPECT_TRUE(menu.mnuSelectIndex[0]->isChecked() && !menu.mnuSelectIndex[2]->isChecked());
}

TEST_F(ConfigFile, EveryKeySurvivesAndOrdinaryKeysStayBare) {
    const QString longest =
        QString(areas::kMaxKeyLength / 2, u'"') + QString(areas::kMaxKeyLength / 2, u',');
    const QStringList keys = {"007",        "1e5",
                              "a,b",        "say \"hi\"",
                              "\"",         "\tTab",
                              "two\nlines", QString::fromUtf8("Tür €"),
                              "",           QString(QChar(0xFEFF)) + "Bom",
                              longest};
    for (const QString& key : keys) {
        registry.AddArea(key);
    }
    ASSERT_TRUE(SaveConfig(registry, path("keys.cfg")));
    const QByteArray file = read("keys.cfg");
    for (const char* line :
         {"\nArea,007\r", "\nArea,1e5\r", "\nArea,\"a,b\"\r", "\nArea,\"say \"\"hi\"\"\"\r",
          "\nArea,\"\"\"\"\r", "\nArea,\"\tTab\"\r", "\nArea,\"two\nlines\"\r",
          "\nArea,T\xc3\xbcr \xe2\x82\xac\r", "\nArea,\r"}) {
        EXPECT_TRUE(file.contains(line)) << line;
    }
    registry.ClearAreas();
    ASSERT_TRUE(LoadConfig(registry, path("keys.cfg"), reporter));
    EXPECT_EQ(this->keys(), keys);
    ASSERT_TRUE(SaveConfig(registry, path("again.cfg"))) << "whatever loads can be saved";
    EXPECT_EQ(read("again.cfg"), file);

    // One limit for the key dialog, the registry and the file.
    ui::DialogValues values;
    ui::frmKey dialog(values, &window);
    dialog.txtKey()->setText(longest + "x");
    dialog.cmdOk()->click();
    EXPECT_EQ(values.EnteredKey, longest);
    EXPECT_THROW(registry.AddArea(longest + "x"), areas::CollectionError);
    EXPECT_THROW(load("OstrelConfig\r\nArea," + QByteArray(areas::kMaxKeyLength + 1, 'k') + "\r\n"),
                 ConfigFileError);
}

TEST_F(ConfigFile, ReadsByFieldsKeepingTheGeometryAcrossBlocks) {
    registry.AddArea("Old");
    ASSERT_TRUE(
        load("OstrelConfig\n"
             "MotionSens,5\n"
             "Left,0.5\n"
             "Area,First\r\n"
             "Top,0.25\n"
             "\n"
             "Width,  0.125\n"
             "Height,0.0625\n"
             "Comment,x\n"
             "MotionActive,1\nMotionEvent,0\nShowLabel,7\nMotionSens,300\n"
             "ColorSens,2.5\nColorThreshold,3.5\nDetColor,1e3\nForeColor,-7.5\n"
             "End,-\n"
             "Area,Second\n"
             "End,-"));
    ASSERT_EQ(keys(), QStringList({"First", "Second"}));
    DetectionArea& first = area(1);
    EXPECT_TRUE(first.MotionActive());
    EXPECT_FALSE(first.MotionEvent());
    EXPECT_EQ(first.ShowLabel(), 2);
    EXPECT_EQ(first.MotionSens(), 255);
    EXPECT_EQ(first.ColorSens(), 2) << "halves go to the even number";
    EXPECT_EQ(first.ColorThreshold(), 4);
    EXPECT_EQ(first.DetColor(), 1000);
    EXPECT_EQ(first.ForeColor(), -8);
    DetectionArea& second = area(2);
    EXPECT_EQ(second.MotionSens(), 222) << "settings before the first area go nowhere";
    EXPECT_EQ(QList<double>({second.Left(), second.Top(), second.Width(), second.Height()}),
              QList<double>({0.5, 0.25, 0.125, 0.0625}));
    EXPECT_EQ(registry.SelectedPosition(), 0);
    EXPECT_EQ(menu.mnuSelectIndex[0]->text(), "Area 1 - First");

    ASSERT_TRUE(load("OstrelConfig\r\nArea,A\r\nTop,0.5\r\nEnd,-\r\n"));
    EXPECT_EQ(area(1).Left(), 0.0) << "the kept values start at 0";

    // Windows-1252 when the file is not UTF-8.
    ASSERT_TRUE(load("OstrelConfig\r\nArea,T\xfcr \x80 \xe4\r\nEnd,-\r\n"));
    EXPECT_EQ(keys(), QStringList{QString::fromUtf8("Tür € ä")});
    ASSERT_TRUE(load("\xef\xbb\xbfOstrelConfig\r\nArea,\xc3\xa4\r\n"));
    EXPECT_EQ(keys(), QStringList{QString::fromUtf8("ä")});
}

TEST_F(ConfigFile, WrongHeaderIsReportedAndLeavesTheAreas) {
    registry.AddArea("Keep");
    for (const char* header : {"ostrelconfig", "OSTRELCONFIG", "Ostrel", "\r\n"}) {
        EXPECT_FALSE(load(QByteArray(header) + "\r\nArea,X\r\n")) << header;
        EXPECT_EQ(keys(), QStringList{"Keep"});
    }
    EXPECT_EQ(takeBoxes(), QStringList{"Error: Wrong File!"}) << "one box for one text";
}

TEST_F(ConfigFile, FaultsInsideTheFileFail) {
    const QByteArray head = "OstrelConfig\r\nArea,Door\r\n";
    const QList<QByteArray> faults = {
        head + "MotionSens,abc\r\n",
        head + "ShowFrame,True\r\n",
        head + "ShowFrame,\r\n",
        head + "MotionSens,2147483648\r\n",
        head + "ForeColor,-2147483649\r\n",
        head + "DetColor,1e10\r\n",
        head + "Left,1e999\r\n",
        head + "Area,DOOR\r\n",
        head + "Area,\"Unclosed\r\nEnd,-\r\n",
        head + "Area,\"Do\"or\r\n",
        head + "End",
        head + "Area," + QByteArray(5000, 'x') + "\r\n",
        head + "Area,\"" + QByteArray(3000, 'x') + "\r\n" + QByteArray(3000, 'x') + "\"\r\n",
    };
    for (const QByteArray& fault : faults) {
        EXPECT_THROW(load(fault), ConfigFileError) << fault.left(60).constData();
    }
    EXPECT_TRUE(load(head + "ForeColor,2147483647\r\nDetColor,-2147483648\r\n"));
    EXPECT_EQ(area(1).ForeColor(), 2147483647);
}

TEST_F(ConfigFile, FilesThatCannotBeTakenFailBeforeTheAreasChange) {
    registry.AddArea("Keep");
    QByteArray many = "OstrelConfig\r\n";
    for (int i = 0; i <= areas::kMaxAreas; ++i) {
        many += "Area,a" + QByteArray::number(i) + "\r\n";
    }
    QByteArray huge = "OstrelConfig\r\n";
    while (huge.size() <= shell::kMaxConfigFileBytes) {
        huge += kDoorFile.mid(14);
    }
    const QStringList files = {
        path("missing.cfg"),
        dir.path(),
        "/dev/zero",
        write("binary.cfg", QByteArray("OstrelConfig\r\nArea,A\0\x01\x02", 24)),
        write("long.cfg", "OstrelConfig\r\nComment," + QByteArray(100000, ' ') + "x\r\n"),
        write("many.cfg", many),
        write("huge.cfg", huge),
    };
    for (const QString& file : files) {
        EXPECT_THROW(LoadConfig(registry, file, reporter), ConfigFileError) << file.toStdString();
        EXPECT_EQ(keys(), QStringList{"Keep"});
    }
    // Room for three areas of the default size; one of them and one of the whole frame is more.
    registry.setBufferBudget(registry.newAreaBytes() * 3);
    EXPECT_TRUE(load("OstrelConfig\r\nArea,S\r\nArea,T\r\nArea,U\r\n"));
    EXPECT_THROW(load("OstrelConfig\r\nArea,S\r\nArea,Whole\r\nWidth,1\r\nHeight,1\r\nEnd,-\r\n"),
                 ConfigFileError);
    EXPECT_EQ(keys(), QStringList({"S", "T", "U"}));
}

TEST_F(ConfigFile, FailedSaveLeavesTheOldFileWhole) {
    for (int n = 0; n < 5; ++n) {
        registry.AddArea(QStringLiteral("Area %1").arg(n));
    }
    EXPECT_THROW(SaveConfig(registry, path("no/such/folder.cfg")), ConfigFileError);

    const QString target = write("keep.cfg", kDoorFile);
    // A write that hits the file size limit fails like one on a full disk.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit oldLimit{};
    getrlimit(RLIMIT_FSIZE, &oldLimit);
    rlimit small = oldLimit;
    small.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_THROW(SaveConfig(registry, target), ConfigFileError);
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    std::signal(SIGXFSZ, oldHandler);

    // A save goes only to an ordinary file or a new name: anything else stays what it was.
    for (const unsigned type : {S_IFIFO, S_IFSOCK, S_IFCHR}) {
        const QByteArray name = QFile::encodeName(path(QString::number(type)));
        if (mknod(name.constData(), type | 0600, makedev(1, 3)) != 0) {
            EXPECT_EQ(type, unsigned(S_IFCHR)) << "only a device node needs privileges";
            continue;
        }
        EXPECT_THROW(SaveConfig(registry, QFile::decodeName(name)), ConfigFileError) << type;
        struct stat info {};
        EXPECT_TRUE(lstat(name.constData(), &info) == 0 && (info.st_mode & S_IFMT) == type) << type;
    }

    registry.AddArea(QStringLiteral("nul") + QChar(0));
    EXPECT_THROW(SaveConfig(registry, target), ConfigFileError) << "a key a file cannot keep";
    EXPECT_EQ(read("keep.cfg"), kDoorFile);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"keep.cfg"});
}

// The File commands over the test's window, with dialogs that answer from a list and note the
// filter they were given.
struct Commands {
    shell::FileCommands commands;
    QStringList answers;
    QStringList filters;
    Commands(areas::mdlSub& registry, QWidget* window, shell::Reporter& reporter)
        : commands(registry, window, reporter) {
        const auto dialog = [this](QWidget*, const QString& filter) {
            filters << filter;
            return answers.isEmpty() ? QString() : answers.takeFirst();
        };
        commands.setOpenDialog(dialog);
        commands.setSaveDialog(dialog);
    }
};

TEST_F(ConfigFile, OpenShowsTheFileNameOrClearsTheAreas) {
    Commands file(registry, &window, reporter);
    file.answers = {write("door.cfg", kDoorFile)};
    file.commands.Open();
    EXPECT_EQ(keys(), QStringList{"Door"});
    EXPECT_EQ(window.windowTitle(), "Ostrel - door.cfg");
    EXPECT_EQ(file.filters, QStringList{"OstrelConfigFile (*.cfg)"});

    file.commands.Open();  // cancelled
    EXPECT_EQ(keys(), QStringList{"Door"});
    EXPECT_EQ(file.commands.ConfigFilePath(), path("door.cfg"));

    file.answers = {write("bad.cfg", "OstrelConfig\r\nArea,A\r\nMotionSens,x\r\n"),
                    write("wrong.cfg", "Ostrel\r\n")};
    for (int i = 0; i < 2; ++i) {
        registry.AddArea("Keep");
        file.commands.Open();
        EXPECT_EQ(count(), 0);
        EXPECT_EQ(window.windowTitle(), "Ostrel - door.cfg");
    }
    EXPECT_EQ(takeBoxes(), QStringList({kFileError, "Error: Wrong File!"}));
    EXPECT_EQ(file.commands.ConfigFilePath(), path("wrong.cfg"));
    EXPECT_EQ(file.commands.ConfigFileTitle(), "wrong.cfg");
}

TEST_F(ConfigFile, SaveAsksForAFileOnlyWhenThereIsNone) {
    Commands file(registry, &window, reporter);
    registry.AddArea("Door");
    file.answers = {QString(), path("again.cfg")};
    file.commands.Save();
    EXPECT_EQ(file.filters.size(), 1) << "a cancelled dialog is not asked again";
    EXPECT_FALSE(QFile::exists(path("again.cfg")));
    file.answers = {path("new.cfg")};
    file.commands.Save();
    EXPECT_EQ(file.filters.size(), 2);
    EXPECT_EQ(read("new.cfg"), kDoorFile);
    EXPECT_EQ(window.windowTitle(), "Ostrel - new.cfg");

    registry.AddArea("Window");
    file.commands.Save();
    EXPECT_EQ(file.filters.size(), 2) << "no dialog once there is a file";
    EXPECT_TRUE(read("new.cfg").contains("Area,Window"));

    file.answers = {path("missing/other.cfg")};
    file.commands.SaveAs();
    EXPECT_EQ(takeBoxes(), QStringList{kFileError});
    EXPECT_EQ(keys(), QStringList({"Door", "Window"}));
    EXPECT_EQ(window.windowTitle(), "Ostrel - new.cfg");
    EXPECT_EQ(file.commands.ConfigFileTitle(), "other.cfg");
}

TEST_F(ConfigFile, TheFileDialogsOpenOverTheWindow) {
    window.setGeometry(200, 150, 500, 400);
    shell::FileCommands commands(registry, &window, reporter);
    for (auto command : {&shell::FileCommands::Open, &shell::FileCommands::SaveAs}) {
        answers.then([this](QWidget* d) {
            EXPECT_TRUE(qobject_cast<QFileDialog*>(d));
            EXPECT_LE(offCentre(d, &window), 4);
            qobject_cast<QDialog*>(d)->reject();
        });
        (commands.*command)();
    }
}
