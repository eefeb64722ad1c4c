// network_internal.h - what the network engine's files share and nobody else uses.
#pragma once
#include "comm/network.h"

// The quit flag, then the runtime's event poll: 0, or the code that ends a wait.
int NetPollEvents(void);
int NetQuitRequested(void);
// Resolves host and port for the type and connects *descriptor (made or remade per
// address family) within the milliseconds for all addresses together. 0, -1, -2, -3,
// a socket code, or a look-up code (*lookupError set); *pollCode an event poll's code.
int TryConnectAddresses(int *descriptor, int *family, const char *host, const char *port, int type,
                        uint32_t milliseconds, int *lookupError, int *pollCode);
// A socket object around an accepted descriptor. nullptr when memory runs out.
lvSocket *WrapSocketDescriptor(int descriptor, int family);
// A zeroed connection with callback and user data -1.
lvConnection *NewConnectionRecord(void);
// The link that points at the node of id in a list, or nullptr.
lvObjectHeader **FindNodeLink(lvObjectHeader **head, lvObjectId id);
// The find error for id (its number as "%d", ERR_FINDARRAY for a handle).
int NodeLookupError(lvObjectId id, int findError);
lvNetworkNode *NewNetworkNode(int type, lvObjectId id, int automatic, void *payload);
void AppendNetworkNode(lvObjectHeader **head, lvNetworkNode *node);
void FreeNodeUserData(lvNetworkNode *node);
// Shut-down of the server and UDP lists.
void FreeServerAndUdpLists(void);
// Ends a command's use of a connection: frees it when a callback closed it meanwhile.
void FinishConnectionUse(lvNetworkNode *node);
// Makes *descriptor a socket of the address's family and the type, unless it is one
// already (*family tells). 0 or the code of a failed creation.
int SocketForAddress(int *descriptor, int *family, const lvResolvedAddress *address, int type);
// Frees the string buffer kept between receives (shut-down).
void FreeSpareReceiveBuffer(void);
