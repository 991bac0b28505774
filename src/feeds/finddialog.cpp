#include "feeds/finddialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TFindDialog::TFindDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("FindDialog1"));
    setWindowTitle(QStringLiteral("Find"));
    setModal(false);

    auto *label = new QLabel(QStringLiteral("Fi&nd what:"), this);
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("findText"));
    label->setBuddy(m_edit);

    m_findNext = new QPushButton(QStringLiteral("&Find Next"), this);
    m_findNext->setObjectName(QStringLiteral("findNextButton"));
    m_findNext->setDefault(true);
    // As in the system's find box: nothing to find while the text is empty.
    m_findNext->setEnabled(false);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));

    auto *row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(m_edit, 1);
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(m_findNext);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    auto *layout = new QHBoxLayout(this);
    layout->addLayout(row, 1);
    layout->addLayout(buttons);
    layout->setAlignment(row, Qt::AlignTop);

    connect(m_edit, &QLineEdit::textChanged, this,
            [this](const QString &t) { m_findNext->setEnabled(!t.isEmpty()); });
    connect(m_findNext, &QPushButton::clicked, this, &TFindDialog::find);
    // Hides the dialog; the text stays.
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString TFindDialog::text() const
{
    return m_edit->text();
}

void TFindDialog::setText(const QString &text)
{
    m_edit->setText(text);
}
