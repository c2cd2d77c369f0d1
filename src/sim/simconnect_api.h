#pragma once

// The SimConnect C API as this program uses it: the seventeen functions, the
// received-message layouts and the constants, with the SDK's published
// names, parameter order and values. Written from the published ABI, with
// fixed-width types so that the native Linux build (tests, emulator) has
// exactly the Windows layout: HRESULT is 32-bit signed, DWORD 32-bit
// unsigned, HANDLE a pointer.
//
// No windows.h here: everything lives in namespace simconnect, so the names
// never collide with the Windows SDK's typedefs. The functions have C
// linkage, so namespace scope does not change the symbol they bind to.
//
// On Windows the functions come from SimConnect.dll through an import
// library generated from SimConnect.def; tests and the sandbox link the
// simulator emulator instead, which defines them. They are deliberately not
// declared dllimport: the import library supplies the thunks, and the
// emulator must be able to define the same declarations statically.

#include <cstddef>
#include <cstdint>

// The SDK declares every function and the dispatch callback __stdcall. On
// x64 the keyword is accepted and ignored; on 32-bit Windows it matters.
#if defined(_WIN32)
#define SIMCONNECT_CALL __stdcall
#else
#define SIMCONNECT_CALL
#endif

namespace simconnect {

using HRESULT = std::int32_t;
using DWORD = std::uint32_t;
using BOOL = std::int32_t;
using HANDLE = void*;
using HWND = void*;
using LPCSTR = const char*;

using SIMCONNECT_OBJECT_ID = DWORD;
using SIMCONNECT_NOTIFICATION_GROUP_ID = DWORD;
using SIMCONNECT_DATA_DEFINITION_ID = DWORD;
using SIMCONNECT_DATA_REQUEST_ID = DWORD;
using SIMCONNECT_CLIENT_EVENT_ID = DWORD;
using SIMCONNECT_CLIENT_DATA_ID = DWORD;
using SIMCONNECT_CLIENT_DATA_DEFINITION_ID = DWORD;

using SIMCONNECT_EVENT_FLAG = DWORD;
using SIMCONNECT_DATA_REQUEST_FLAG = DWORD;
using SIMCONNECT_CLIENT_DATA_REQUEST_FLAG = DWORD;
using SIMCONNECT_CLIENT_DATA_SET_FLAG = DWORD;
using SIMCONNECT_CREATE_CLIENT_DATA_FLAG = DWORD;

// The SDK's real enums are plain enums, 4 bytes with every Windows compiler;
// a fixed underlying type gives the same size and argument passing here.
enum SIMCONNECT_RECV_ID : std::int32_t {
    SIMCONNECT_RECV_ID_NULL = 0,
    SIMCONNECT_RECV_ID_EXCEPTION = 1,
    SIMCONNECT_RECV_ID_OPEN = 2,
    SIMCONNECT_RECV_ID_QUIT = 3,
    SIMCONNECT_RECV_ID_EVENT = 4,
    SIMCONNECT_RECV_ID_EVENT_FILENAME = 6,
    SIMCONNECT_RECV_ID_EVENT_FRAME = 7,
    SIMCONNECT_RECV_ID_SIMOBJECT_DATA = 8,
    SIMCONNECT_RECV_ID_SYSTEM_STATE = 15,
    SIMCONNECT_RECV_ID_CLIENT_DATA = 16,
};

enum SIMCONNECT_DATATYPE : std::int32_t {
    SIMCONNECT_DATATYPE_INVALID = 0,
    SIMCONNECT_DATATYPE_INT32 = 1,
    SIMCONNECT_DATATYPE_INT64 = 2,
    SIMCONNECT_DATATYPE_FLOAT32 = 3,
    SIMCONNECT_DATATYPE_FLOAT64 = 4,
    // Fixed-length strings: the text, a NUL, and zeros to the field's size.
    SIMCONNECT_DATATYPE_STRING8 = 5,
    SIMCONNECT_DATATYPE_STRING32 = 6,
    SIMCONNECT_DATATYPE_STRING64 = 7,
    SIMCONNECT_DATATYPE_STRING128 = 8,
    SIMCONNECT_DATATYPE_STRING256 = 9,
    SIMCONNECT_DATATYPE_STRING260 = 10,
};

enum SIMCONNECT_EXCEPTION : std::int32_t {
    SIMCONNECT_EXCEPTION_NONE = 0,
    SIMCONNECT_EXCEPTION_ERROR = 1,
    SIMCONNECT_EXCEPTION_SIZE_MISMATCH = 2,
    SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID = 3,
    SIMCONNECT_EXCEPTION_UNOPENED = 4,
    SIMCONNECT_EXCEPTION_VERSION_MISMATCH = 5,
    SIMCONNECT_EXCEPTION_TOO_MANY_GROUPS = 6,
    SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED = 7,
    SIMCONNECT_EXCEPTION_TOO_MANY_EVENT_NAMES = 8,
    SIMCONNECT_EXCEPTION_EVENT_ID_DUPLICATE = 9,
    SIMCONNECT_EXCEPTION_TOO_MANY_MAPS = 10,
    SIMCONNECT_EXCEPTION_TOO_MANY_OBJECTS = 11,
    SIMCONNECT_EXCEPTION_TOO_MANY_REQUESTS = 12,
    SIMCONNECT_EXCEPTION_WEATHER_INVALID_PORT = 13,
    SIMCONNECT_EXCEPTION_WEATHER_INVALID_METAR = 14,
    SIMCONNECT_EXCEPTION_WEATHER_UNABLE_TO_GET_OBSERVATION = 15,
    SIMCONNECT_EXCEPTION_WEATHER_UNABLE_TO_CREATE_STATION = 16,
    SIMCONNECT_EXCEPTION_WEATHER_UNABLE_TO_REMOVE_STATION = 17,
    SIMCONNECT_EXCEPTION_INVALID_DATA_TYPE = 18,
    SIMCONNECT_EXCEPTION_INVALID_DATA_SIZE = 19,
    SIMCONNECT_EXCEPTION_DATA_ERROR = 20,
    SIMCONNECT_EXCEPTION_INVALID_ARRAY = 21,
    SIMCONNECT_EXCEPTION_CREATE_OBJECT_FAILED = 22,
    SIMCONNECT_EXCEPTION_LOAD_FLIGHTPLAN_FAILED = 23,
    SIMCONNECT_EXCEPTION_OPERATION_INVALID_FOR_OBJECT_TYPE = 24,
    SIMCONNECT_EXCEPTION_ILLEGAL_OPERATION = 25,
    SIMCONNECT_EXCEPTION_ALREADY_SUBSCRIBED = 26,
    SIMCONNECT_EXCEPTION_INVALID_ENUM = 27,
    SIMCONNECT_EXCEPTION_DEFINITION_ERROR = 28,
    SIMCONNECT_EXCEPTION_DUPLICATE_ID = 29,
    SIMCONNECT_EXCEPTION_DATUM_ID = 30,
    SIMCONNECT_EXCEPTION_OUT_OF_BOUNDS = 31,
    SIMCONNECT_EXCEPTION_ALREADY_CREATED = 32,
    SIMCONNECT_EXCEPTION_OBJECT_OUTSIDE_REALITY_BUBBLE = 33,
    SIMCONNECT_EXCEPTION_OBJECT_CONTAINER = 34,
    SIMCONNECT_EXCEPTION_OBJECT_AI = 35,
    SIMCONNECT_EXCEPTION_OBJECT_ATC = 36,
    SIMCONNECT_EXCEPTION_OBJECT_SCHEDULE = 37,
};

enum SIMCONNECT_PERIOD : std::int32_t {
    SIMCONNECT_PERIOD_NEVER = 0,  // stops the request of that id
    SIMCONNECT_PERIOD_ONCE = 1,
    SIMCONNECT_PERIOD_VISUAL_FRAME = 2,
    SIMCONNECT_PERIOD_SIM_FRAME = 3,
    SIMCONNECT_PERIOD_SECOND = 4,
};

enum SIMCONNECT_CLIENT_DATA_PERIOD : std::int32_t {
    SIMCONNECT_CLIENT_DATA_PERIOD_NEVER = 0,
    SIMCONNECT_CLIENT_DATA_PERIOD_ONCE = 1,
    SIMCONNECT_CLIENT_DATA_PERIOD_VISUAL_FRAME = 2,
    SIMCONNECT_CLIENT_DATA_PERIOD_ON_SET = 3,
    SIMCONNECT_CLIENT_DATA_PERIOD_SECOND = 4,
};

constexpr DWORD SIMCONNECT_UNUSED = 0xFFFFFFFFu;
// The group of a system event's RECV_EVENT (it belongs to none).
constexpr DWORD SIMCONNECT_UNKNOWN_GROUP = 0xFFFFFFFFu;
// szFileName and szString: MAX_PATH characters.
constexpr std::size_t SIMCONNECT_MAX_PATH = 260;
constexpr SIMCONNECT_OBJECT_ID SIMCONNECT_OBJECT_ID_USER = 0;
constexpr DWORD SIMCONNECT_OPEN_CONFIGINDEX_LOCAL = 0xFFFFFFFFu;
constexpr DWORD SIMCONNECT_CLIENTDATA_MAX_SIZE = 8192;
constexpr DWORD SIMCONNECT_CLIENTDATAOFFSET_AUTO = 0xFFFFFFFFu;

constexpr DWORD SIMCONNECT_GROUP_PRIORITY_HIGHEST = 1;
constexpr DWORD SIMCONNECT_GROUP_PRIORITY_HIGHEST_MASKABLE = 10000000;
constexpr DWORD SIMCONNECT_GROUP_PRIORITY_STANDARD = 1900000000;
constexpr DWORD SIMCONNECT_GROUP_PRIORITY_DEFAULT = 2000000000;
constexpr DWORD SIMCONNECT_GROUP_PRIORITY_LOWEST = 4000000000u;

constexpr SIMCONNECT_EVENT_FLAG SIMCONNECT_EVENT_FLAG_DEFAULT = 0;
constexpr SIMCONNECT_EVENT_FLAG SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY = 0x10;
constexpr SIMCONNECT_DATA_REQUEST_FLAG SIMCONNECT_DATA_REQUEST_FLAG_DEFAULT = 0;
constexpr SIMCONNECT_DATA_REQUEST_FLAG SIMCONNECT_DATA_REQUEST_FLAG_CHANGED = 1;
constexpr SIMCONNECT_DATA_REQUEST_FLAG SIMCONNECT_DATA_REQUEST_FLAG_TAGGED = 2;
constexpr SIMCONNECT_CLIENT_DATA_REQUEST_FLAG SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_DEFAULT = 0;
constexpr SIMCONNECT_CLIENT_DATA_REQUEST_FLAG SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_CHANGED = 1;
constexpr SIMCONNECT_CLIENT_DATA_REQUEST_FLAG SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_TAGGED = 2;
constexpr SIMCONNECT_CLIENT_DATA_SET_FLAG SIMCONNECT_CLIENT_DATA_SET_FLAG_DEFAULT = 0;
constexpr SIMCONNECT_CLIENT_DATA_SET_FLAG SIMCONNECT_CLIENT_DATA_SET_FLAG_TAGGED = 1;
constexpr SIMCONNECT_CREATE_CLIENT_DATA_FLAG SIMCONNECT_CREATE_CLIENT_DATA_FLAG_DEFAULT = 0;
constexpr SIMCONNECT_CREATE_CLIENT_DATA_FLAG SIMCONNECT_CREATE_CLIENT_DATA_FLAG_READ_ONLY = 1;

// A size in AddToClientDataDefinition may instead name a type (as DWORD).
constexpr DWORD SIMCONNECT_CLIENTDATATYPE_INT8 = 0xFFFFFFFFu;
constexpr DWORD SIMCONNECT_CLIENTDATATYPE_INT16 = 0xFFFFFFFEu;
constexpr DWORD SIMCONNECT_CLIENTDATATYPE_INT32 = 0xFFFFFFFDu;
constexpr DWORD SIMCONNECT_CLIENTDATATYPE_INT64 = 0xFFFFFFFCu;
constexpr DWORD SIMCONNECT_CLIENTDATATYPE_FLOAT32 = 0xFFFFFFFBu;
constexpr DWORD SIMCONNECT_CLIENTDATATYPE_FLOAT64 = 0xFFFFFFFAu;

// Result codes this program meets. Negative means failure.
constexpr HRESULT S_OK_RESULT = 0;
constexpr HRESULT E_FAIL_RESULT = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG_RESULT = static_cast<HRESULT>(0x80070057u);
// Seen from CallDispatch after the simulator closed (pipe disconnected)
// and after it crashed (pipe broken).
constexpr HRESULT PIPE_DISCONNECTED_RESULT = static_cast<HRESULT>(0xC00000B0u);
constexpr HRESULT PIPE_BROKEN_RESULT = static_cast<HRESULT>(0xC000014Bu);
// What the SDK's library returns from every call once the server closed a
// TCP connection (a read completed with 0 bytes).
constexpr HRESULT LINK_FAILED_RESULT = static_cast<HRESULT>(0xC000013Eu);
// A string argument of 256 characters or more: refused by the library
// itself, which still uses up a send id.
constexpr HRESULT INSUFFICIENT_BUFFER_RESULT = static_cast<HRESULT>(0x8007007Au);

// Received messages. The SDK derives each from SIMCONNECT_RECV; here the
// header fields are repeated so every struct is standard-layout and its
// offsets can be checked. All fields are 4 bytes, so packing changes nothing.
#pragma pack(push, 1)

struct SIMCONNECT_RECV {
    DWORD dwSize;  // total bytes of this message
    DWORD dwVersion;
    DWORD dwID;  // a SIMCONNECT_RECV_ID
};

struct SIMCONNECT_RECV_EXCEPTION {
    DWORD dwSize;
    DWORD dwVersion;
    DWORD dwID;
    DWORD dwException;  // a SIMCONNECT_EXCEPTION
    DWORD dwSendID;     // 0 when unknown
    DWORD dwIndex;      // offending parameter, SIMCONNECT_UNUSED when unknown
};

struct SIMCONNECT_RECV_OPEN {
    DWORD dwSize;
    DWORD dwVersion;
    DWORD dwID;
    char szApplicationName[256];
    DWORD dwApplicationVersionMajor;
    DWORD dwApplicationVersionMinor;
    DWORD dwApplicationBuildMajor;
    DWORD dwApplicationBuildMinor;
    DWORD dwSimConnectVersionMajor;
    DWORD dwSimConnectVersionMinor;
    DWORD dwSimConnectBuildMajor;
    DWORD dwSimConnectBuildMinor;
    DWORD dwReserved1;
    DWORD dwReserved2;
};

struct SIMCONNECT_RECV_QUIT {
    DWORD dwSize;
    DWORD dwVersion;
    DWORD dwID;
};

// SIMOBJECT_DATA and CLIENT_DATA share this layout; the payload starts at
// dwData (40 bytes in) and runs to dwSize.
struct SIMCONNECT_RECV_SIMOBJECT_DATA {
    DWORD dwSize;
    DWORD dwVersion;
    DWORD dwID;
    DWORD dwRequestID;
    DWORD dwObjectID;
    DWORD dwDefineID;
    DWORD dwFlags;
    DWORD dwentrynumber;
    DWORD dwoutof;
    DWORD dwDefineCount;
    DWORD dwData;
};

using SIMCONNECT_RECV_CLIENT_DATA = SIMCONNECT_RECV_SIMOBJECT_DATA;

// A system event (SubscribeToSystemEvent) or a client event.
struct SIMCONNECT_RECV_EVENT {
    DWORD dwSize;
    DWORD dwVersion;
    DWORD dwID;
    DWORD uGroupID;  // SIMCONNECT_UNKNOWN_GROUP for system events
    DWORD uEventID;  // the client's id from the subscription
    DWORD dwData;
};

// A system event that names a file (AircraftLoaded, FlightLoaded).
struct SIMCONNECT_RECV_EVENT_FILENAME {
    DWORD dwSize;
    DWORD dwVersion;
    DWORD dwID;
    DWORD uGroupID;
    DWORD uEventID;
    DWORD dwData;
    char szFileName[SIMCONNECT_MAX_PATH];
    DWORD dwFlags;
};

// The system event Frame: once per visual frame.
struct SIMCONNECT_RECV_EVENT_FRAME {
    DWORD dwSize;
    DWORD dwVersion;
    DWORD dwID;
    DWORD uGroupID;
    DWORD uEventID;
    DWORD dwData;
    float fFrameRate;  // frames per second
    float fSimSpeed;   // 1.0 = real time
};

// The answer to RequestSystemState; one of the three values is meaningful,
// which one depends on the state asked for.
struct SIMCONNECT_RECV_SYSTEM_STATE {
    DWORD dwSize;
    DWORD dwVersion;
    DWORD dwID;
    DWORD dwRequestID;
    DWORD dwInteger;
    float fFloat;
    char szString[SIMCONNECT_MAX_PATH];
};

#pragma pack(pop)

constexpr std::size_t kRecvDataPayloadOffset = 40;

static_assert(sizeof(SIMCONNECT_RECV) == 12, "SIMCONNECT_RECV layout");
static_assert(offsetof(SIMCONNECT_RECV, dwID) == 8, "SIMCONNECT_RECV layout");
static_assert(sizeof(SIMCONNECT_RECV_EXCEPTION) == 24, "SIMCONNECT_RECV_EXCEPTION layout");
static_assert(offsetof(SIMCONNECT_RECV_EXCEPTION, dwException) == 12, "exception layout");
static_assert(offsetof(SIMCONNECT_RECV_EXCEPTION, dwSendID) == 16, "exception layout");
static_assert(offsetof(SIMCONNECT_RECV_EXCEPTION, dwIndex) == 20, "exception layout");
static_assert(offsetof(SIMCONNECT_RECV_OPEN, szApplicationName) == 12, "open layout");
static_assert(offsetof(SIMCONNECT_RECV_OPEN, dwApplicationVersionMajor) == 268, "open layout");
static_assert(offsetof(SIMCONNECT_RECV_OPEN, dwReserved2) == 304, "open layout");
static_assert(sizeof(SIMCONNECT_RECV_OPEN) == 308, "open layout");
static_assert(sizeof(SIMCONNECT_RECV_QUIT) == 12, "quit layout");
static_assert(offsetof(SIMCONNECT_RECV_SIMOBJECT_DATA, dwRequestID) == 12, "data layout");
static_assert(offsetof(SIMCONNECT_RECV_SIMOBJECT_DATA, dwDefineID) == 20, "data layout");
static_assert(offsetof(SIMCONNECT_RECV_SIMOBJECT_DATA, dwDefineCount) == 36, "data layout");
static_assert(offsetof(SIMCONNECT_RECV_SIMOBJECT_DATA, dwData) == kRecvDataPayloadOffset,
              "data payload starts 40 bytes in");
static_assert(sizeof(SIMCONNECT_RECV_SIMOBJECT_DATA) == 44, "data layout");
static_assert(offsetof(SIMCONNECT_RECV_EVENT, uGroupID) == 12, "event layout");
static_assert(offsetof(SIMCONNECT_RECV_EVENT, uEventID) == 16, "event layout");
static_assert(offsetof(SIMCONNECT_RECV_EVENT, dwData) == 20, "event layout");
static_assert(sizeof(SIMCONNECT_RECV_EVENT) == 24, "event layout");
static_assert(offsetof(SIMCONNECT_RECV_EVENT_FILENAME, szFileName) == 24, "filename layout");
static_assert(offsetof(SIMCONNECT_RECV_EVENT_FILENAME, dwFlags) == 284, "filename layout");
static_assert(sizeof(SIMCONNECT_RECV_EVENT_FILENAME) == 288, "filename layout");
static_assert(offsetof(SIMCONNECT_RECV_EVENT_FRAME, fFrameRate) == 24, "frame layout");
static_assert(offsetof(SIMCONNECT_RECV_EVENT_FRAME, fSimSpeed) == 28, "frame layout");
static_assert(sizeof(SIMCONNECT_RECV_EVENT_FRAME) == 32, "frame layout");
static_assert(offsetof(SIMCONNECT_RECV_SYSTEM_STATE, dwRequestID) == 12, "state layout");
static_assert(offsetof(SIMCONNECT_RECV_SYSTEM_STATE, dwInteger) == 16, "state layout");
static_assert(offsetof(SIMCONNECT_RECV_SYSTEM_STATE, fFloat) == 20, "state layout");
static_assert(offsetof(SIMCONNECT_RECV_SYSTEM_STATE, szString) == 24, "state layout");
static_assert(sizeof(SIMCONNECT_RECV_SYSTEM_STATE) == 284, "state layout");

typedef void(SIMCONNECT_CALL* DispatchProc)(SIMCONNECT_RECV* pData, DWORD cbData, void* pContext);

extern "C" {

HRESULT SIMCONNECT_CALL SimConnect_Open(HANDLE* phSimConnect, LPCSTR szName, HWND hWnd,
                                        DWORD UserEventWin32, HANDLE hEventHandle,
                                        DWORD ConfigIndex);
HRESULT SIMCONNECT_CALL SimConnect_Close(HANDLE hSimConnect);
HRESULT SIMCONNECT_CALL SimConnect_CallDispatch(HANDLE hSimConnect, DispatchProc pfcnDispatch,
                                                void* pContext);
HRESULT SIMCONNECT_CALL SimConnect_AddToDataDefinition(HANDLE hSimConnect,
                                                       SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                                       const char* DatumName, const char* UnitsName,
                                                       SIMCONNECT_DATATYPE DatumType,
                                                       float fEpsilon, DWORD DatumID);
HRESULT SIMCONNECT_CALL SimConnect_RequestDataOnSimObject(
    HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID,
    SIMCONNECT_DATA_DEFINITION_ID DefineID, SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_PERIOD Period,
    SIMCONNECT_DATA_REQUEST_FLAG Flags, DWORD origin, DWORD interval, DWORD limit);
HRESULT SIMCONNECT_CALL SimConnect_MapClientEventToSimEvent(HANDLE hSimConnect,
                                                            SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                            const char* EventName);
HRESULT SIMCONNECT_CALL SimConnect_TransmitClientEvent(
    HANDLE hSimConnect, SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_CLIENT_EVENT_ID EventID,
    DWORD dwData, SIMCONNECT_NOTIFICATION_GROUP_ID GroupID, SIMCONNECT_EVENT_FLAG Flags);
HRESULT SIMCONNECT_CALL SimConnect_MapClientDataNameToID(HANDLE hSimConnect,
                                                         const char* szClientDataName,
                                                         SIMCONNECT_CLIENT_DATA_ID ClientDataID);
HRESULT SIMCONNECT_CALL SimConnect_AddToClientDataDefinition(
    HANDLE hSimConnect, SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID, DWORD dwOffset,
    DWORD dwSizeOrType, float fEpsilon, DWORD DatumID);
HRESULT SIMCONNECT_CALL SimConnect_RequestClientData(HANDLE hSimConnect,
                                                     SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                                     SIMCONNECT_DATA_REQUEST_ID RequestID,
                                                     SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID,
                                                     SIMCONNECT_CLIENT_DATA_PERIOD Period,
                                                     SIMCONNECT_CLIENT_DATA_REQUEST_FLAG Flags,
                                                     DWORD origin, DWORD interval, DWORD limit);
HRESULT SIMCONNECT_CALL SimConnect_SetClientData(HANDLE hSimConnect,
                                                 SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                                 SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID,
                                                 SIMCONNECT_CLIENT_DATA_SET_FLAG Flags,
                                                 DWORD dwReserved, DWORD cbUnitSize,
                                                 void* pDataSet);
HRESULT SIMCONNECT_CALL SimConnect_CreateClientData(HANDLE hSimConnect,
                                                    SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                                    DWORD dwSize,
                                                    SIMCONNECT_CREATE_CLIENT_DATA_FLAG Flags);
// Removes every datum of a data definition.
HRESULT SIMCONNECT_CALL SimConnect_ClearDataDefinition(HANDLE hSimConnect,
                                                       SIMCONNECT_DATA_DEFINITION_ID DefineID);
// System events ("AircraftLoaded", "SimStart", "Frame", ...; names without
// regard to case) arrive as RECV_EVENT* messages carrying EventID.
HRESULT SIMCONNECT_CALL SimConnect_SubscribeToSystemEvent(HANDLE hSimConnect,
                                                          SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                          const char* SystemEventName);
HRESULT SIMCONNECT_CALL SimConnect_UnsubscribeFromSystemEvent(HANDLE hSimConnect,
                                                              SIMCONNECT_CLIENT_EVENT_ID EventID);
// The answer ("AircraftLoaded", "Sim", ...) comes as one RECV_SYSTEM_STATE.
HRESULT SIMCONNECT_CALL SimConnect_RequestSystemState(HANDLE hSimConnect,
                                                      SIMCONNECT_DATA_REQUEST_ID RequestID,
                                                      const char* szState);
// The send id the library gave the last message it sent (or refused) on
// this connection; a server exception names the message by this id.
HRESULT SIMCONNECT_CALL SimConnect_GetLastSentPacketID(HANDLE hSimConnect, DWORD* pdwSendID);

}  // extern "C"

}  // namespace simconnect
