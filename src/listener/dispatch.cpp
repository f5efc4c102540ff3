#include "cPatternIndex.h"
#include "cWinsock.h"
#include "launcher/cShell.h"
#include "main_window/frmMain.h"
#include "main_window/list_selection.h"
#include "near_miss.h"
#include "runtime/cRaisedError.h"
#include "runtime/number_text.h"

#include <QListWidget>
#include <limits>

namespace {

// A recogniser sends a few words; a peer that floods the port must not flood the log's memory.
constexpr qsizetype kMaxLoggedVoiceString = 1000;

QString loggable(const QString& voiceString)
{
    if (voiceString.size() <= kMaxLoggedVoiceString)
        return voiceString;
    return voiceString.left(kMaxLoggedVoiceString) +
           QStringLiteral("... (cut here: %1 characters in all)").arg(voiceString.size());
}

} // namespace

void frmMain::wckTCP_DataArrival(std::int32_t)
{
    // Laying out and painting the log and the lists takes longer than starting the command.
    holdScreenDuring([this] { dispatchVoiceString(); });
}

void frmMain::dispatchVoiceString()
{
    QString voiceString;
    wckTCP->GetData(voiceString);
    Log(QStringLiteral("Received voice string: ") + loggable(voiceString));

    // The first equal row wins: later rows with the same pattern never run from a voice string.
    const int row = patternIndex_->firstRow(voiceString);
    if (row < 0) {
        Log(QStringLiteral("No matching voice string found!"));
        logNearMiss(voiceString);
        return;
    }
    pendingPairRow_ = row;
    runCommandLine(rowText(lstCommand, row), rowText(lstFocus, row));
}

void frmMain::logNearMiss(const QString& voiceString)
{
    QStringList patterns;
    patterns.reserve(lstPattern->count());
    for (int row = 0; row < lstPattern->count(); ++row)
        patterns << lstPattern->item(row)->text();
    const QString hint = nearMissHint(patterns, voiceString);
    if (!hint.isEmpty())
        Log(hint);
}

void frmMain::RunCommand()
{
    runCommandLine(selectedText(lstCommand), selectedText(lstFocus));
}

void frmMain::runCommandLine(const QString& commandLine, const QString& windowStyle)
{
    try {
        const auto style = numtext::toRoundedInteger(windowStyle.toLocal8Bit().toStdString(),
                                                     std::numeric_limits<std::int16_t>::min(),
                                                     std::numeric_limits<std::int16_t>::max());
        if (!style)
            throw cRaisedError(13,
                               QStringLiteral("window style \"%1\" is no number").arg(windowStyle));
        seams_.shell->Shell(commandLine, static_cast<std::int16_t>(*style));
        Log(QStringLiteral("Executing: ") + commandLine);
    } catch (const cRaisedError& error) {
        Log(QStringLiteral("Could not execute: ") + commandLine + QStringLiteral(" (") +
            error.text + u')');
    }
}

void frmMain::cmdRun_Click()
{
    updateScreen();
    if (selectedText(lstPattern).isEmpty())
        return;
    RunCommand();
}
