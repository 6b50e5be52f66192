#include "SpringBoardControl.h"

#include "SpringBoard.h"

#include <QMetaType>

void SpringBoardControl::SetFrontMostApplication(const QVariantMap &answers) {
    SBApplication::Answers table;
    for (auto it = answers.begin(); it != answers.end(); ++it) {
        if (it.value().metaType() == QMetaType::fromType<QString>())
            table[it.key().toStdString()] = it.value().toString().toStdString();
        else
            table[it.key().toStdString()] = std::nullopt;
    }
    UIApp->setFrontMostApplication(std::make_shared<SBApplication>(std::move(table)));
}

void SpringBoardControl::GoHome() {
    UIApp->setFrontMostApplication(nullptr);
}
