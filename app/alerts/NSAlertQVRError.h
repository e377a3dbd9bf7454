#pragma once

#include "app/alerts/Alert.h"

// The older name of the store's error alert, kept while the start-up code
// still calls it; new code calls Alert::showError.
namespace NSAlertQVRError {

inline void showError(const std::optional<platform::Error>& error, const QString& url, bool fatal)
{
    Alert::showError(error, url, fatal);
}

} // namespace NSAlertQVRError
