#pragma once
// Classes named as the frameworks' own, so that the reporter finds their handlers by name.

class TCGIApplication {
 public:
  void CGIHandleException(void* sender);
};

class TISAPIApplication {
 public:
  void ISAPIHandleException(void* sender);
};

class TIdThread {
 public:
  void DoException(void* sender);
};

class TService {
 public:
  void LogMessage(const char* message, int type, int category, int id);
};

class TIWServerControllerBase {
 public:
  bool DoException(void* application, void* error);
};
