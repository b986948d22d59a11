#include "app/NetworkWait.h"

#include <windows.h>
// After windows.h, which they build on; initguid.h makes this unit define the network list's identifiers.
#include <initguid.h>
#include <netlistmgr.h>

#include "gui/ComPtr.h"

TConnectivity InternetConnectivity() {
  // A new object each time: one kept from earlier does not see a network that came since on every system.
  TComPtr<INetworkListManager> networks;
  if (FAILED(CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_ALL, IID_INetworkListManager,
                              reinterpret_cast<void**>(networks.Put())))) {
    return TConnectivity::cnUnknown;
  }
  NLM_CONNECTIVITY connectivity = NLM_CONNECTIVITY_DISCONNECTED;
  if (FAILED(networks->GetConnectivity(&connectivity))) return TConnectivity::cnUnknown;
  // A network without a way to the internet (a local network only, or one still connecting) cannot reach the site.
  return (connectivity & (NLM_CONNECTIVITY_IPV4_INTERNET | NLM_CONNECTIVITY_IPV6_INTERNET)) != 0
             ? TConnectivity::cnInternet
             : TConnectivity::cnNone;
}
