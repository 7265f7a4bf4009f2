#include "MirrorDecoder.h"

#include "Error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include <mutex>
#include <optional>

namespace {

using InterfaceFunction = int (*)();
using MakeFunction = MirrorDecoder* (*)();

std::mutex moduleMutex;
MakeFunction loadedMake = nullptr;            // once loaded, for the life of the process
std::optional<QStringList> chosenCandidates; // set by tests

// Loads the first usable candidate. A failing candidate does not stop the
// search; the first failure is what is reported when none works.
MakeFunction loadLocked()
{
    if (loadedMake)
        return loadedMake;
    std::optional<QString> failure;
    for (const QString& path : chosenCandidates ? *chosenCandidates : MirrorDecoderModule::defaultCandidates()) {
        if (!QFileInfo(path).isFile())
            continue;
        // Never unloaded: decoders, their threads and FFmpeg's own state may outlive any one user.
        QLibrary library(path);
        if (!library.load()) {
            failure = failure.value_or(QStringLiteral("Couldn't load the screen mirroring video decoder (") +
                                       library.errorString() + QStringLiteral(")."));
            continue;
        }
        const auto interface = reinterpret_cast<InterfaceFunction>(library.resolve(MIRROR_DECODER_INTERFACE_SYMBOL));
        const auto make = reinterpret_cast<MakeFunction>(library.resolve(MIRROR_DECODER_MAKE_SYMBOL));
        if (!interface || !make || interface() != MirrorDecoder::interfaceVersion) {
            failure = failure.value_or(
                QStringLiteral("The screen mirroring video decoder belongs to another version of the app."));
            continue;
        }
        loadedMake = make;
        return make;
    }
    throw SystemError(failure.value_or(QStringLiteral("The screen mirroring video decoder is missing from the app.")));
}

} // namespace

QString MirrorDecoderModule::fileName()
{
    return QStringLiteral(VANTELORQUIST_DECODER_FILE);
}

QStringList MirrorDecoderModule::defaultCandidates()
{
    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QString folder = QCoreApplication::applicationDirPath();
        candidates << QDir::cleanPath(folder + QStringLiteral("/" VANTELORQUIST_DECODER_INSTALL_DIR "/") + fileName());
        candidates << QDir::cleanPath(folder + QLatin1Char('/') + fileName());
    }
    candidates << QStringLiteral(VANTELORQUIST_DECODER_BUILD_PATH);
    return candidates;
}

void MirrorDecoderModule::setCandidates(QStringList candidates)
{
    std::lock_guard lock(moduleMutex);
    if (candidates.isEmpty())
        chosenCandidates.reset();
    else
        chosenCandidates = std::move(candidates);
}

void MirrorDecoderModule::load()
{
    std::lock_guard lock(moduleMutex);
    loadLocked();
}

std::unique_ptr<MirrorDecoder> MirrorDecoderModule::makeDecoder()
{
    MakeFunction make = nullptr;
    {
        std::lock_guard lock(moduleMutex);
        make = loadLocked();
    }
    return std::unique_ptr<MirrorDecoder>(make());
}
