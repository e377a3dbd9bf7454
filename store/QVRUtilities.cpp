#include "store/QVRUtilities.h"

const QString QVRUserDefaultsDidChangeNotification = QStringLiteral("QVRUserDefaultsDidChangeNotification");
const QString QVRUserDefaultsKey = QStringLiteral("QVRUserDefaultsKey");
const QString QVRUserDefaultsValue = QStringLiteral("QVRUserDefaultsValue");
