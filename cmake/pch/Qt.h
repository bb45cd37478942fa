// The Qt headers of the Qt modules the target links, and the project controller where the
// target can see it, for targets whose files all may see Qt's keyword macros.
#pragma once

#ifdef QT_CORE_LIB
#include <QtCore/QByteArray>
#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QHash>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QList>
#include <QtCore/QMetaType>
#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QTimer>
#include <QtCore/QVariant>
#endif
#ifdef QT_GUI_LIB
#include <QtGui/QColor>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#endif
#ifdef QT_WIDGETS_LIB
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>
#endif

#if __has_include("vexilo/application/ProjectController.h")
#include "vexilo/application/ProjectController.h"
#endif
