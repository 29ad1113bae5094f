#pragma once

enum class RestartKind { Cold, Warm, Hot };

// "cold start", "warm start", "hot start".
const char *RestartName(RestartKind kind);
