#include "engine/dns/DNSBase.h"

TDNSDomainRecord::~TDNSDomainRecord() {
  TDNSMXRecord* MX = FirstMX;
  while (MX) {
    TDNSMXRecord* Next = MX->Next;
    delete MX;
    MX = Next;
  }
}

TDNSMXRecord* NewMXRecord() { return new TDNSMXRecord(); }

TDNSDomainRecord* NewDomainRecord() {
  auto* D = new TDNSDomainRecord();
  D->LookupTime = Now();
  return D;
}

void InsertMXRecord(TDNSMXRecord* MX, TDNSDomainRecord* Domain, bool Count) {
  if (!MX || !Domain) return;
  MX->Next = nullptr;
  if (!Domain->FirstMX) {
    Domain->FirstMX = MX;
  } else if (Domain->FirstMX->Preference > MX->Preference) {
    MX->Next = Domain->FirstMX;
    Domain->FirstMX = MX;
  } else {
    TDNSMXRecord* At = Domain->FirstMX;
    while (At->Next && At->Next->Preference <= MX->Preference) At = At->Next;
    MX->Next = At->Next;
    At->Next = MX;
  }
  if (Count) ++Domain->MXCount;
}

void FreeDomainRecord(TDNSDomainRecord*& Domain) {
  delete Domain;
  Domain = nullptr;
}

TDNSDomainRecordPtr CopyDomainRecord(const TDNSDomainRecord* Source) {
  if (!Source) return nullptr;
  TDNSDomainRecordPtr Copy(new TDNSDomainRecord());
  Copy->RecNo = Source->RecNo;
  Copy->NextRecNo = Source->NextRecNo;
  Copy->Domain = Source->Domain;
  Copy->LookupTime = Source->LookupTime;
  Copy->Reserved = Source->Reserved;
  Copy->Valid = Source->Valid;
  Copy->FirstData = Source->FirstData;
  Copy->MXCount = Source->MXCount;
  TDNSMXRecord** Tail = &Copy->FirstMX;
  for (const TDNSMXRecord* MX = Source->FirstMX; MX; MX = MX->Next) {
    auto* C = new TDNSMXRecord(*MX);
    C->Next = nullptr;
    *Tail = C;
    Tail = &C->Next;
  }
  return Copy;
}

