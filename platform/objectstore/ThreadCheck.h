#pragma once

// A context and its objects belong to one thread. Builds made to find faults
// (debug builds, and KANTELO_THREAD_CHECKS, which the sanitizer builds turn
// on) stop at the first use from another thread, naming it, instead of
// corrupting the context's sets later and elsewhere.

#if !defined(NDEBUG) || defined(KANTELO_THREAD_CHECKS)
#include <QThread>
#include <QtGlobal>

#define KT_CHECK_CONTEXT_THREAD(context)                                                                               \
    do {                                                                                                               \
        const QObject *kt_context = (context);                                                                         \
        if (kt_context && kt_context->thread() != QThread::currentThread())                                            \
            qFatal("%s: store context used on thread %p (\"%s\"), it belongs to thread %p", Q_FUNC_INFO,               \
                   static_cast<void *>(QThread::currentThread()), qPrintable(QThread::currentThread()->objectName()),  \
                   static_cast<void *>(kt_context->thread()));                                                         \
    } while (false)
#else
#define KT_CHECK_CONTEXT_THREAD(context)                                                                               \
    do {                                                                                                               \
    } while (false)
#endif
