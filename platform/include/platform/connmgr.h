#pragma once
/// The connection manager, the own telephone number and the shell's network error display.
///
/// On the phone the connection manager dials a packet data bearer; on Linux the host is
/// already on its network, so every connection reports connected (0x10) at once. The
/// destination networks are the string values of `\Platform\ConnMgr\Destinations` (value
/// name: the destination's GUID in braces or any other name; data: its description); with no
/// such key the two destinations "The Internet" and "WAP Network" exist.
#include <cstdint>

#include "platform/types.h"

using HRESULT = LONG;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr bool SUCCEEDED(HRESULT hr) {
  return hr >= 0;
}
inline constexpr bool FAILED(HRESULT hr) {
  return hr < 0;
}

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
  bool operator==(const GUID&) const = default;
};

struct HWND__;

inline constexpr std::size_t CONNMGR_MAX_DESC = 128;

struct CONNMGR_DESTINATION_INFO {
  GUID guid;
  WCHAR szDescription[CONNMGR_MAX_DESC];
};

/// The connection request record. `cbSize` is the record's size on this build.
struct CONNMGR_CONNECTIONINFO {
  DWORD cbSize;
  DWORD dwParams;
  DWORD dwFlags;
  DWORD dwPriority;
  BOOL bExclusive;
  BOOL bDisabled;
  GUID guidDestNet;
  HWND__* hWnd;
  UINT uMsg;
  LPARAM lParam;
  std::uint32_t ulMaxCost;
  std::uint32_t ulMinRcvBw;
  std::uint32_t ulMaxConnLatency;
};

inline constexpr DWORD CONNMGR_PARAM_GUIDDESTNET = 0x1;
inline constexpr DWORD CONNMGR_FLAG_PROXY_WAP = 0x2;
inline constexpr DWORD CONNMGR_FLAG_PROXY_SOCKS4 = 0x4;
inline constexpr DWORD CONNMGR_PRIORITY_USERINTERACTIVE = 0x8000;

// Connection status codes.
inline constexpr DWORD CONNMGR_STATUS_UNKNOWN = 0x00;
inline constexpr DWORD CONNMGR_STATUS_CONNECTED = 0x10;
inline constexpr DWORD CONNMGR_STATUS_DISCONNECTED = 0x20;
inline constexpr DWORD CONNMGR_STATUS_CONNECTIONFAILED = 0x21;
inline constexpr DWORD CONNMGR_STATUS_CONNECTIONCANCELED = 0x22;
inline constexpr DWORD CONNMGR_STATUS_CONNECTIONDISABLED = 0x23;
inline constexpr DWORD CONNMGR_STATUS_NOPATHTODESTINATION = 0x24;
inline constexpr DWORD CONNMGR_STATUS_WAITINGCONNECTION = 0x40;

inline constexpr const WCHAR* kConnMgrDestinationsKey = u"\\Platform\\ConnMgr\\Destinations";
inline constexpr const WCHAR* kPhoneKey = u"\\Platform\\Phone";

/// Ordinal 125: the destination at `index` (from 0); E_FAIL past the last one.
HRESULT ConnMgrEnumDestinations(int index, CONNMGR_DESTINATION_INFO* info);
/// Ordinal 120: a connection to the request's destination. The handle is an event that is
/// signalled whenever the status changes (here: once, connected).
HRESULT ConnMgrEstablishConnection(const CONNMGR_CONNECTIONINFO* info, HANDLE* connection);
/// Ordinal 121: the connection's current status.
HRESULT ConnMgrConnectionStatus(HANDLE connection, DWORD* status);
/// Ordinal 122: releases the connection; the handle is invalid afterwards.
HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG cache);

inline constexpr std::size_t SMS_MAX_ADDRESS_LENGTH = 256;
enum SMS_ADDRESS_TYPE { SMSAT_UNKNOWN = 0, SMSAT_INTERNATIONAL = 1, SMSAT_NATIONAL = 2 };
struct SMS_ADDRESS {
  SMS_ADDRESS_TYPE smsatAddressType;
  WCHAR ptsAddress[SMS_MAX_ADDRESS_LENGTH];
};
/// The device's own number: the value "OwnNumber" of `\Platform\Phone`. E_FAIL when it is
/// absent or empty.
HRESULT SmsGetPhoneNumber(SMS_ADDRESS* address);

struct SHELLEXECUTEINFO {
  DWORD cbSize;
  std::uint32_t fMask;
  HWND__* hwnd;
  LPCWSTR lpVerb;
  LPCWSTR lpFile;
  LPCWSTR lpParameters;
  LPCWSTR lpDirectory;
  int nShow;
  void* hInstApp;
};
/// Only the shell's network error display ":MSREMNET" is known: on Linux it prints
/// "network error: <parameters>" to standard error. Anything else fails.
BOOL ShellExecuteEx(SHELLEXECUTEINFO* info);
