#pragma once

#include "ADBError.h"
#include "ADBServer.h"
#include "Error.h"

#include <gtest/gtest.h>

#include <QString>

#include <functional>
#include <ostream>

inline void PrintTo(const ADBServer::Reply& reply, std::ostream* out)
{
    *out << (reply.kind == ADBServer::Reply::Kind::okay ? "okay(" : "fail(") << '"' << reply.text.toStdString()
         << "\")";
}

// The description of the ADBError::failed that work throws, or a note of
// what happened instead.
inline QString failureOf(const std::function<void()>& work)
{
    try {
        work();
    } catch (const ADBError& error) {
        if (error.kind() != ADBError::Kind::failed)
            return QStringLiteral("<ADBError of another kind: %1>").arg(error.description());
        return error.description();
    } catch (const Cancelled&) {
        return QStringLiteral("<cancelled>");
    } catch (const Error& error) {
        return QStringLiteral("<other error: %1>").arg(error.description());
    }
    return QStringLiteral("<no failure>");
}
