#pragma once

#include <QString>
#include <QVariantMap>

#include <functional>

namespace platform {

// An error as callers report and present it: domain, code, description,
// an optional recovery suggestion and further details by key.
struct Error {
    QString domain;
    int code = 0;
    QString description;
    QString recoverySuggestion;
    QVariantMap userInfo;

    bool isNull() const { return domain.isEmpty() && code == 0 && description.isEmpty(); }
};

inline constexpr const char *kKanteloErrorDomain = "Kantelo Domain";

// An error of this program's domain that carries only a description: what
// the readers and decoders report when input is damaged or unsupported.
inline Error describedError(const QString &description, int code = 1)
{
    return Error{QString::fromLatin1(kKanteloErrorDomain), code, description, {}, {}};
}

// Sets `*error` to a described error when the caller asked for one.
inline void setError(Error *error, const QString &description)
{
    if (error)
        *error = describedError(description);
}

// Presents an error to the user on the main thread (from any thread). The
// default presenter logs; the shell installs one that shows an alert, tests
// install their own.
using ErrorPresenter = std::function<void(const Error &)>;
void setErrorPresenter(ErrorPresenter presenter);
void presentError(const Error &error);

} // namespace platform
