#include "cVoiceSender.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream input(stdin);
    QTextStream errors(stderr);
    return runVoiceSender(app.arguments().mid(1), input, errors);
}
