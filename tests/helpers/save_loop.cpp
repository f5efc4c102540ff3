#include "launcher/cShell.h"
#include "main_window/frmMain.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>

// Usage: kormil_save_loop SETTINGS_FILE
// Saves table A (300 rows "alpha N") and table B (200 rows "beta N") in turn until killed.
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    frmMainSeams seams = frmMainSeams::real(std::make_shared<cShell>());
    seams.settingsPath = QString::fromLocal8Bit(argv[1]);
    frmMain window(seams);
    window.txtPort->setText(QStringLiteral("0")); // never wait on a busy port's message box
    window.Form_Load();
    for (bool alpha = false;; alpha = !alpha) {
        for (QListWidget* list : {window.lstPattern, window.lstCommand, window.lstFocus})
            list->clear();
        const QString word = alpha ? QStringLiteral("alpha ") : QStringLiteral("beta ");
        for (int i = 0; i < (alpha ? 300 : 200); ++i) {
            window.lstPattern->addItem(word + QString::number(i));
            window.lstCommand->addItem(QStringLiteral("run ") + word + QString::number(i));
            window.lstFocus->addItem(QStringLiteral("1"));
        }
        window.Form_Unload();
    }
}
