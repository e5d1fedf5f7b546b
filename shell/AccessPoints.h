#pragma once
// The four process-wide access points, published by the controller when it is created and
// cleared before it is destroyed. Everything else reaches the controller through these.

class IMainWnd;
class IDBCenter;
class IResource;
class CNotifyHub;

IMainWnd* GetMainWnd();
IDBCenter* GetDBCenter();
IResource* GetResource();
CNotifyHub* GetNotifyHub();

void PublishAccessPoints(IMainWnd* mainWnd, IDBCenter* db, IResource* resource, CNotifyHub* hub);
void ClearAccessPoints();
