// libFuzzer target for the configuration file reader. Every input is loaded as a configuration
// file into a real area registry; whatever loads must save, and the saved file must load to the
// same areas: saving that second load gives the same bytes again.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "ConfigFile.h"
#include "ConfigFileError.h"
#include "Reporter.h"
#include "support/AreaWindowParts.h"

namespace {

// A folder in memory where there is one: every save ends in an fsync.
QString temporaryFolder() {
    const QString shared = QStringLiteral("/dev/shm");
    return QString(QFileInfo(shared).isWritable() ? shared : QDir::tempPath()) +
           QStringLiteral("/ostrel-fuzz-XXXXXX");
}

// The main window's parts and a folder for the files, for the whole run.
struct World {
    QTemporaryDir dir{temporaryFolder()};
    AreaWindowParts parts;
    // A wrong header is reported in a box that holds nothing; a repeat raises the same box.
    ostrel::shell::Reporter reporter{false, QStringLiteral("fuzz"), &parts.window};
    QString input = dir.filePath(QStringLiteral("input.cfg"));
    QString saved = dir.filePath(QStringLiteral("saved.cfg"));
    QString savedAgain = dir.filePath(QStringLiteral("again.cfg"));

    // A small frame keeps the areas' buffers small: the reader works on fractions.
    World() {
        parts.registry.setDisplayColRes(4);
        parts.registry.setFrameSize(64, 48);
    }
};

World* world = nullptr;

void writeFile(const QString& name, const char* data, qint64 size) {
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data, size) != size) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
        std::abort();
    }
}

QByteArray readFile(const QString& name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// libFuzzer ends the process with exit() or abort(): the folder goes first.
void removeFolder() { world->dir.remove(); }

[[noreturn]] void finding(const char* what, const std::exception* failure = nullptr) {
    std::fprintf(stderr, "FINDING: %s%s%s\n", what, failure ? ": " : "",
                 failure ? failure->what() : "");
    removeFolder();
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    new QApplication(*argc, *argv);
    world = new World;
    std::atexit(removeFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ostrel::shell;
    auto& registry = world->parts.registry;
    registry.ClearAreas();
    writeFile(world->input, reinterpret_cast<const char*>(data), qint64(size));
    try {
        if (!LoadConfig(registry, world->input, world->reporter)) {
            return 0;
        }
    } catch (const ConfigFileError&) {
        return 0;  // refused, as a damaged file should be
    }
    try {
        if (!SaveConfig(registry, world->saved)) {
            finding("a loaded file was not saved");
        }
        registry.ClearAreas();
        if (!LoadConfig(registry, world->saved, world->reporter) ||
            !SaveConfig(registry, world->savedAgain)) {
            finding("a saved file did not load or save again");
        }
    } catch (const std::exception& failure) {
        finding("a loaded file did not go through a save and a load", &failure);
    }
    if (readFile(world->saved) != readFile(world->savedAgain)) {
        finding("a saved file loaded to other areas");
    }
    return 0;
}
