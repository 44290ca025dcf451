#include "support/MinisignPair.h"

#include "support/TestSupport.h"

#include <QProcess>
#include <QStandardPaths>

bool MinisignPair::available()
{
    return !QStandardPaths::findExecutable(QStringLiteral("minisign")).isEmpty();
}

bool MinisignPair::run(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("minisign"), args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool MinisignPair::make(const QString &base)
{
    publicKey = base + QStringLiteral(".pub");
    secretKey = base + QStringLiteral(".key");
    if (!run({ QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"), publicKey,
            QStringLiteral("-s"), secretKey }))
        return false;
    publicText = TestSupport::readFile(publicKey);
    // The comment line ends with the id, its leading zeros dropped.
    id = QString::fromLatin1(publicText.split('\n').first().split(' ').last())
             .rightJustified(16, QLatin1Char('0'));
    return !publicText.isEmpty();
}
