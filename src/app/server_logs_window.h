#pragma once

#include "core/service_table.h"

#include <QSortFilterProxyModel>
#include <QWidget>

#include <memory>

class PanelViewModel;
class QLabel;
class QListView;
class QPushButton;
class QTabWidget;

namespace logs {
class LogFollower;
}

// Hides the plain lines of a log while errors only are asked for.
class ErrorsOnlyFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setErrorsOnly(bool on);
    bool errorsOnly() const { return m_errorsOnly; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    bool m_errorsOnly = false;
};

// One log in the window: its lines, following the end while the user is at the bottom. The
// log is followed while the page is on screen.
class ServerLogPage : public QWidget {
    Q_OBJECT
public:
    ServerLogPage(Service service, const std::shared_ptr<PanelViewModel>& model,
                  QWidget* parent = nullptr);

    Service service() const { return m_service; }
    logs::LogFollower* follower() const { return m_follower; }
    ErrorsOnlyFilter* filter() const { return m_filter; }
    QListView* list() const { return m_list; }
    // The selected lines as shown, or every line shown when none is selected.
    QString copiedText() const;
    void setErrorsOnly(bool on);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    Service m_service;
    logs::LogFollower* m_follower;
    ErrorsOnlyFilter* m_filter;
    QListView* m_list;
    bool m_followEnd = true;
    bool m_changing = false; // lines are coming in: the scroll position moves by itself
};

// The servers' logs beside the panel: a tab for each of the site, phpMyAdmin and the
// database, the errors-only switch, copy and, for the two web servers, clear. A window of its
// own, never modal, in the panel's dark theme.
class ServerLogsWindow : public QWidget {
    Q_OBJECT
public:
    explicit ServerLogsWindow(std::shared_ptr<PanelViewModel> model, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return m_tabs; }
    ServerLogPage* page(int index) const;
    ServerLogPage* currentPage() const;
    QPushButton* errorsOnlyButton() const { return m_errorsOnly; }
    QPushButton* copyButton() const { return m_copy; }
    QPushButton* clearButton() const { return m_clear; }
    QLabel* noticeLabel() const { return m_notice; }

    void copyLines();
    void clearLog() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void onCurrentChanged();

    std::shared_ptr<PanelViewModel> m_model;
    QTabWidget* m_tabs;
    QPushButton* m_errorsOnly;
    QPushButton* m_copy;
    QPushButton* m_clear;
    QLabel* m_notice;
};
