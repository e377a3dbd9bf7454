// Search over the notes and the history of deleted notes.
#include "app/NoteListModel.h"
#include "app/NoteWindow.h"
#include "app/QVRSearchField.h"
#include "app/QuillaryAppDelegate.h"

#include "platform/core/Log.h"
#include "platform/core/UserDefaults.h"
#include "platform/predicate/Predicate.h"
#include "store/QVRDateFormatter.h"
#include "store/QVRObjectController.h"
#include "store/QVRUtilities.h"

#include <QLocale>
#include <QRegularExpression>

QuillaryAppDelegate::SearchQuery QuillaryAppDelegate::searchQuery(const QString& text, qint64 historyDays,
                                                                  double cutoff)
{
    SearchQuery query;
    QStringList terms;
    if (QVRUtilities::hasTrimmedValue(text)) {
        static const QRegularExpression separator(QStringLiteral("[\\s\\x{2028}\\x{2029}]"));
        // Two separators in a row make an empty word; it matches every text.
        const QStringList words = QVRUtilities::trimmedString(text).split(separator);
        for (const QString& word : words) {
            terms << QStringLiteral("(text contains[cd] %@)");
            query.arguments << word;
        }
    }
    const QString textCondition = terms.join(QStringLiteral(" AND "));
    // 0 and every negative value keep history for good, as pruning does.
    QString condition;
    if (historyDays <= 0) {
        condition = textCondition;
    } else {
        const QString history =
            QStringLiteral("archived == NO OR modified > %1").arg(QLocale::c().toString(cutoff, 'f', 6));
        condition =
            textCondition.isEmpty() ? history : QStringLiteral("(%1) AND (%2)").arg(history, textCondition);
    }
    query.format = condition.isEmpty() ? QStringLiteral("removed == NO")
                                       : QStringLiteral("removed == NO AND (%1)").arg(condition);
    return query;
}

QVRSearchField* QuillaryAppDelegate::searchField() const
{
    return m_window ? m_window->searchField() : nullptr;
}

bool QuillaryAppDelegate::searchFieldVisible() const
{
    return m_searchShowing && m_window && m_window->sidebarView()->isVisibleTo(m_window);
}

void QuillaryAppDelegate::toggleSearch()
{
    if (!m_window)
        return;
    if (!m_window->sidebarView()->isVisibleTo(m_window)) {
        hideDetailsAndSave(true, false);
        QTimer::singleShot(300, this, [this] { toggleSearch(); });
        return;
    }
    m_window->tableView()->scrollToTop();
    if (m_searchShowing) {
        if (searchField()->hasFocus())
            hideSearch();
        else
            searchField()->setFocus();
        return;
    }
    m_searchShowing = true;
    searchField()->show();
    searchField()->setFocus();
}

void QuillaryAppDelegate::hideSearch()
{
    if (!m_searchShowing)
        return;
    m_window->tableView()->setFocus();
    searchField()->setText(QString());
    updateSearch();
    m_searchShowing = false;
    searchField()->hide();
}

void QuillaryAppDelegate::startSearchWithText(const QString& text)
{
    if (!m_searchShowing || !m_window->sidebarView()->isVisibleTo(m_window))
        toggleSearch();
    if (!text.isEmpty()) {
        searchField()->setText(text);
        updateSearch();
    } else {
        searchField()->setFocus();
    }
}

void QuillaryAppDelegate::updateSearch()
{
    QVRObjectController* controller = noteController();
    if (!controller || !searchField())
        return;
    const QString text = searchField()->text();
    if (text.isEmpty()) {
        controller->setFilterPredicate(nullptr);
    } else {
        const qint64 days = m_defaults->integer(QStringLiteral("QVRHistoryDays"));
        QVRDateFormatter& formatter = QVRDateFormatter::sharedFormatter();
        const double cutoff = days > 0 ? QVRDateFormatter::dateDaysAgo(formatter.calendar(), days) : 0;
        const SearchQuery query = searchQuery(text, days, cutoff);
        QString error;
        auto predicate = platform::Predicate::parse(query.format, query.arguments, &error);
        if (!predicate) {
            platform::log(QStringLiteral("Search predicate refused: %1").arg(error));
            return;
        }
        controller->setFilterPredicate(std::move(predicate));
    }
    controller->rearrangeObjects();
    reloadList();
    if (m_listModel->rowCount() > 0) {
        selectNoteWithIndex(0, true);
        if (m_twoPane)
            activateDetailAndFocus(false, true);
    }
}
