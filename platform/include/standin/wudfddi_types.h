// The User-Mode Driver Framework 1.9's types: the enumerations its interfaces take and the
// version record a driver module exports.
#pragma once

#include "standin/windef.h"

// The framework version a driver is built for; the host loads a module whose major number is
// its own and whose minor number is at most its own.
typedef struct _UMDF_VERSION_DATA {
    ULONG MajorNumber;
    ULONG MinorNumber;
    ULONG ServiceNumber;
} UMDF_VERSION_DATA, *PUMDF_VERSION_DATA;

typedef enum _WDF_PROPERTY_STORE_RETRIEVE_FLAGS {
    WdfPropertyStoreNormal = 0,
    WdfPropertyStoreCreateIfMissing = 1,
    WdfPropertyStoreCreateVolatile = 2,
} WDF_PROPERTY_STORE_RETRIEVE_FLAGS;

typedef enum _WDF_PROPERTY_STORE_DISPOSITION {
    CreatedNewStore = 1,
    OpenedExistingStore = 2,
} WDF_PROPERTY_STORE_DISPOSITION;

// Whether the framework serialises a device's queue and file callbacks (WdfDeviceLevel, its
// default) or calls them as they come (None).
typedef enum _WDF_CALLBACK_CONSTRAINT {
    None = 0,
    WdfDeviceLevel = 1,
} WDF_CALLBACK_CONSTRAINT;

typedef enum _WDF_TRI_STATE {
    WdfUseDefault = 0,
    WdfFalse = 1,
    WdfTrue = 2,
} WDF_TRI_STATE;

typedef enum _WDF_PNP_CAPABILITY {
    WdfPnpCapLockSupported = 1,
    WdfPnpCapEjectSupported = 2,
    WdfPnpCapRemovable = 3,
    WdfPnpCapDockDevice = 4,
    WdfPnpCapUniqueID = 5,
    WdfPnpCapSilentInstall = 6,
    WdfPnpCapSurpriseRemovalOK = 7,
    WdfPnpCapHardwareDisabled = 8,
    WdfPnpCapNoDisplayInUI = 9,
} WDF_PNP_CAPABILITY;

typedef enum _WDF_PNP_STATE {
    WdfPnpStateDisabled = 1,
    WdfPnpStateDontDisplayInUI = 2,
    WdfPnpStateFailed = 3,
    WdfPnpStateNotDisableable = 4,
    WdfPnpStateRemoved = 5,
    WdfPnpStateResourcesChanged = 6,
} WDF_PNP_STATE;

typedef enum _WDF_IO_QUEUE_DISPATCH_TYPE {
    WdfIoQueueDispatchSequential = 1,
    WdfIoQueueDispatchParallel = 2,
    WdfIoQueueDispatchManual = 3,
} WDF_IO_QUEUE_DISPATCH_TYPE;

// Flags: what a queue does now.
typedef enum _WDF_IO_QUEUE_STATE {
    WdfIoQueueAcceptRequests = 0x01,
    WdfIoQueueDispatchRequests = 0x02,
    WdfIoQueueNoRequests = 0x04,
    WdfIoQueueDriverNoRequests = 0x08,
    WdfIoQueuePnpHeld = 0x10,
} WDF_IO_QUEUE_STATE;

typedef enum _WDF_REQUEST_TYPE {
    WdfRequestUndefined = 0,
    WdfRequestCreate = 1,
    WdfRequestCleanup = 2,
    WdfRequestRead = 3,
    WdfRequestWrite = 4,
    WdfRequestDeviceIoControl = 5,
    WdfRequestClose = 6,
    WdfRequestInternalIoctl = 7,
    WdfRequestFlushBuffers = 8,
    WdfRequestQueryInformation = 9,
    WdfRequestSetInformation = 10,
    WdfRequestMaximum = 11,
} WDF_REQUEST_TYPE;

typedef enum _WDF_EVENT_TYPE {
    WdfEventBroadcast = 1,
} WDF_EVENT_TYPE;

// The device power state a device leaves (D0 entry) or enters (D0 exit).
typedef enum _WDF_POWER_DEVICE_STATE {
    WdfPowerDeviceInvalid = 0,
    WdfPowerDeviceD0 = 1,
    WdfPowerDeviceD1 = 2,
    WdfPowerDeviceD2 = 3,
    WdfPowerDeviceD3 = 4,
    WdfPowerDeviceD3Final = 5,
    WdfPowerDevicePrepareForHibernation = 6,
    WdfPowerDeviceMaximum = 7,
} WDF_POWER_DEVICE_STATE;

// POWER_ACTION, DEVICE_POWER_STATE and SECURITY_IMPERSONATION_LEVEL come from winnt.h on Windows.
#if !defined(_WIN32)
// What the system as a whole is doing while a device's power changes.
typedef enum _POWER_ACTION {
    PowerActionNone = 0,
    PowerActionReserved = 1,
    PowerActionSleep = 2,
    PowerActionHibernate = 3,
    PowerActionShutdown = 4,
    PowerActionShutdownReset = 5,
    PowerActionShutdownOff = 6,
    PowerActionWarmEject = 7,
    PowerActionDisplayOff = 8,
} POWER_ACTION;

typedef enum _DEVICE_POWER_STATE {
    PowerDeviceUnspecified = 0,
    PowerDeviceD0 = 1,
    PowerDeviceD1 = 2,
    PowerDeviceD2 = 3,
    PowerDeviceD3 = 4,
    PowerDeviceMaximum = 5,
} DEVICE_POWER_STATE;
#endif

typedef enum _WDF_POWER_POLICY_S0_IDLE_CAPABILITIES {
    IdleCannotWakeFromS0 = 1,
    IdleCanWakeFromS0 = 2,
    IdleUsbSelectiveSuspend = 3,
} WDF_POWER_POLICY_S0_IDLE_CAPABILITIES;

typedef enum _WDF_POWER_POLICY_S0_IDLE_USER_CONTROL {
    IdleDoNotAllowUserControl = 1,
    IdleAllowUserControl = 2,
} WDF_POWER_POLICY_S0_IDLE_USER_CONTROL;

typedef enum _WDF_POWER_POLICY_SX_WAKE_USER_CONTROL {
    WakeDoNotAllowUserControl = 1,
    WakeAllowUserControl = 2,
} WDF_POWER_POLICY_SX_WAKE_USER_CONTROL;

typedef enum _WDF_DEVICE_IO_BUFFER_RETRIEVAL {
    WdfDeviceIoBufferRetrievalDeferred = 2,
} WDF_DEVICE_IO_BUFFER_RETRIEVAL;

typedef enum _WDF_DEVICE_IO_TYPE {
    WdfDeviceIoUndefined = 0,
    WdfDeviceIoNeither = 1,
    WdfDeviceIoBuffered = 2,
    WdfDeviceIoDirect = 3,
} WDF_DEVICE_IO_TYPE;

#if !defined(_WIN32)
typedef enum _SECURITY_IMPERSONATION_LEVEL {
    SecurityAnonymous = 0,
    SecurityIdentification = 1,
    SecurityImpersonation = 2,
    SecurityDelegation = 3,
} SECURITY_IMPERSONATION_LEVEL;
#endif

// A range within a framework memory object.
typedef struct _WDFMEMORY_OFFSET {
    SIZE_T BufferOffset;
    SIZE_T BufferLength;
} WDFMEMORY_OFFSET, *PWDFMEMORY_OFFSET;
