// Fuzz target: settings.json of any bytes through the dialog's own reading code.
// The result must always carry a version text and a problem for any non-object.
#include "payload/Settings.h"

#include <QJsonDocument>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const Settings settings = Settings::parse(bytes);
    if (settings.version.isEmpty())
        std::abort();
    if (settings.problem.isEmpty() && !QJsonDocument::fromJson(bytes).isObject())
        std::abort();
    if (!settings.problem.isEmpty() && !settings.images.isEmpty()
        && QJsonDocument::fromJson(bytes).isNull())
        std::abort(); // nothing may be read from text that is not JSON
    return 0;
}
