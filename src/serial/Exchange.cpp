// One exchange at a time on a connection: holding and releasing the gate.
#include "serial/Exchange.h"

#include "serial/CommControl.h"
#include "serial/mod232C.h"

Exchange::Exchange(CommControl &comm, const void *owner) : m_comm(comm)
{
    if (comm.exchangeRunning())
        return;
    m_started = true;
    m_connection = comm.connection();
    comm.takeGate(owner ? owner : this);
    m_openAtStart = StartExchange(comm);
}

Exchange::~Exchange()
{
    if (m_started)
        m_comm.releaseGate();
}

int Exchange::failureMessage(int failed) const
{
    if (m_comm.isConnection(m_connection))
        return failed;
    return m_openAtStart ? PortLostMessage : PortClosedMessage;
}
