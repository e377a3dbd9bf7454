// Search over the notes and the history of deleted notes.
#include "app/QuillaryAppDelegate.h"
#include "app/list/NoteListModel.h"
#include "app/search/QVRSearchBar.h"
#include "app/search/QVRSearchField.h"
#include "app/search/SearchFilter.h"
#include "app/window/NoteWindow.h"

#include "platform/core/UserDefaults.h"
#include "store/QVRDateFormatter.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRObjectController.h"
#include "store/QVRUtilities.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>

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
    m_animatingSearch = true;
    m_window->searchView()->show();
    // Keys typed while the bar slides in belong to the search, not the note.
    searchField()->setFocus();
    m_window->searchView()->setShown(true, [this] {
        searchField()->setFocus();
        m_animatingSearch = false;
    });
    prepareSearch();
}

void QuillaryAppDelegate::hideSearch()
{
    if (!m_searchShowing)
        return;
    m_window->tableView()->setFocus();
    searchField()->setText(QString());
    updateSearch();
    m_searchShowing = false;
    m_animatingSearch = true;
    m_window->searchView()->setShown(false, [this] {
        // Shown again while sliding out: the bar stays.
        if (!m_searchShowing)
            m_window->searchView()->hide();
        m_animatingSearch = false;
    });
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

SearchFilter& QuillaryAppDelegate::searchFilterFor(QVRObjectController* controller)
{
    // A new list controller holds objects loaded afresh: fold them anew.
    if (!m_searchFilter || m_searchFilterController != controller) {
        m_searchFilter = std::make_shared<SearchFilter>(m_dataStore ? m_dataStore->context() : nullptr);
        m_searchFilterController = controller;
    }
    return *m_searchFilter;
}

void QuillaryAppDelegate::setSearchQuery(const QString& text)
{
    QVRObjectController* controller = noteController();
    const qint64 days = QVRDefaultsKeys::value(*m_defaults, QVRDefaultsKeys::HistoryDays);
    QVRDateFormatter& formatter = QVRDateFormatter::sharedFormatter();
    // The cut-off moves on by whole minutes, so that the history it gives
    // is looked up once for a query being typed rather than at every key.
    const double cutoff =
        days > 0 ? std::floor(QVRDateFormatter::dateDaysAgo(formatter.calendar(), days) / 60) * 60 : 0;
    searchFilterFor(controller).setQuery(SearchFilter::queryForText(text, days, cutoff));
}

void QuillaryAppDelegate::prepareSearch()
{
    // While the bar opens and the user starts typing, fold the texts the
    // first search will look at, a slice at a time between events.
    if (m_preparingSearch || !noteController())
        return;
    m_preparingSearch = true;
    if (!searchField() || searchField()->text().isEmpty())
        setSearchQuery(QString());
    QTimer::singleShot(0, this, [this] {
        m_preparingSearch = false;
        QVRObjectController* controller = noteController();
        if (!m_searchShowing || !controller || !m_searchFilter || m_searchFilterController != controller)
            return;
        if (m_searchFilter->prepare(controller->arrayController()->content(), 400) > 0) {
            prepareSearch();
            return;
        }
        // Then the search list itself, from which the first key picks.
        if (searchField()->text().isEmpty() &&
            !controller->prepareContentFilter(
                m_searchFilter->query().cutoff, [filter = m_searchFilter] { return filter->candidateKeys(); },
                2000))
            prepareSearch();
    });
}

void QuillaryAppDelegate::updateSearch()
{
    QVRObjectController* controller = noteController();
    if (!controller || !searchField())
        return;
    const QString text = searchField()->text();
    if (text.isEmpty()) {
        controller->setFilterPredicate(nullptr);
        controller->rearrangeObjects();
    } else {
        setSearchQuery(text);
        // Archived notes older than the history's cut-off never match: the
        // list need not hold them.
        controller->setContentFilter(
            [filter = m_searchFilter](const std::vector<platform::ManagedObject*>& content) {
                return filter->filter(content);
            },
            m_searchFilter->query().cutoff, [filter = m_searchFilter] { return filter->candidateKeys(); });
    }
    reloadList();
    if (m_listModel->rowCount() > 0) {
        selectNoteWithIndex(0, true);
        if (m_twoPane)
            activateDetailAndFocus(false, true);
    }
}
