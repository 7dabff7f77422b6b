// clipvane-fill-profile FOLDER COUNT: a signed-in profile with a library of COUNT varied videos,
// for trying the library window by hand and for pictures of it.
#include "AppPaths.h"
#include "ProfileFill.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    clipvane::AppPaths::initialiseApplicationNames();
    const QStringList arguments = application.arguments();
    bool ok = false;
    const int count = arguments.size() == 3 ? arguments[2].toInt(&ok) : 0;
    if (!ok || count < 0) {
        QTextStream(stderr) << "usage: clipvane-fill-profile FOLDER COUNT\n";
        return 2;
    }
    clipvane::bench::fillSignedInProfile(arguments[1], count);
    return 0;
}
