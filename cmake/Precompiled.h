// The headers most units read, parsed once per target into its precompiled
// header (kantelo_precompile): the standard library's, those of the Qt
// modules the target links (their folders are on its include path only
// then), and GoogleTest's in the test programs. Only headers from outside
// the project, so no unit sees more of the project than it includes.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#if __has_include(<QString>)
#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSet>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>
#include <QVariant>
#include <QVariantMap>
#endif

#if __has_include(<QImage>)
#include <QColor>
#include <QColorSpace>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#endif

#if __has_include(<QWidget>)
#include <QLabel>
#include <QWidget>
#endif

#ifdef KANTELO_TEST_DATA_DIR
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#endif
