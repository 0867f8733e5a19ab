// CkavrelCtrl: the kavrel control object. It is the object a page creates; every script method
// is one of its methods (names beginning with Cli), and it owns the state of everything behind
// them: queues and threads, device and camera model, video wall, media operations.
//
// Threads that meet in the control
//  - the user-interface thread: the control's apartment. Script methods, window messages, the
//    event timer and both events run only there; calls from other threads are refused.
//  - the DoCallbackThread and the CmdThread: reach the control only as the current control
//    (CurrentControl::use), one pass at a time.
//  - the library's callback thread: connectorcallback, also through the current control.
//  - per-task workers (TaskWorker), reaching their task records as their owners say.
//
// Lock order, outermost first: the current-control lease, the callback lock, a map lock held for
// one lookup, then the queue locks (callback message queue, event queue, command queue), which
// are innermost and never held while a command runs, a message is dispatched or an event is
// raised.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "brixa/api/brixa.h"
#include "kavrel/core/cloud_calls.h"
#include "kavrel/core/control_message.h"
#include "kavrel/core/device_model.h"
#include "kavrel/core/task_worker.h"
#include "kavrel/media/channel_resolution.h"
#include "kavrel/media/live_slot.h"
#include "kavrel/media/media_calls.h"
#include "kavrel/persist/layout_file.h"
#include "kavrel/shell/com.h"
#include "platform/window/window.h"

namespace kavrel::ui {
class CVideoWndManger;
class CVideoWnd;
}  // namespace kavrel::ui

namespace kavrel {

// Identifier and period of the event timer.
inline constexpr uintptr_t kEventTimerId = 1;
// The wait between a processed camera list and the restore of the default layout.
inline constexpr uintptr_t kDefaultLayoutTimerId = 2;
inline constexpr uint32_t kEventTimerPeriodMs = 10;
// Every decryption buffer of CliInit.
inline constexpr size_t kDecryptBufferSize = 512;
// The pass phrase of CliInit's encrypted arguments: the type library identifier's text.
inline constexpr const char* kArgumentPassPhrase = "3D7A0C52-E8B1-4F96-A25D-6B0E91C4F7A3";
inline constexpr const char* kDefaultAppKey = "7B3E19A4-52C0-4D81-9F6A-E0B47C2D91F3";
inline constexpr const char* kDefaultAppPass = "Qw7rTz3pLm9XvB2k";

class CkavrelCtrl final : public com::IDispatch,
                          public com::IEventSource,
                          public com::IControlWindow,
                          public com::IControlInfo {
 public:
  // Creates a control whose apartment is the calling thread; the caller holds one reference.
  static CkavrelCtrl* Create();

  // ---- IUnknown ----
  com::HRESULT QueryInterface(const com::IID& iid, void** out) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  // ---- IDispatch ----
  com::HRESULT GetIDOfName(const std::u16string& name, com::DISPID* id) override;
  com::HRESULT Invoke(com::DISPID id, const com::Variant* args, uint32_t count, com::Variant* result,
                      com::ExcepInfo* error) override;

  // ---- IEventSource ----
  com::HRESULT Advise(com::IDispatch* sink, uint32_t* cookie) override;
  com::HRESULT Unadvise(uint32_t cookie) override;

  // ---- IControlWindow ----
  com::HRESULT CreateControlWindow(platform::HWND parent, const platform::Rect& rect, platform::HWND* window) override;
  com::HRESULT DestroyControlWindow() override;
  com::HRESULT GetControlWindow(platform::HWND* window) override;

  // ---- IControlInfo ----
  com::HRESULT GetTypeLibrary(std::string* description) override;
  com::HRESULT GetPropertyPages(std::vector<com::CLSID>* pages) override;
  com::HRESULT GetMiscStatus(uint32_t* status) override;
  com::HRESULT GetPropertyVersion(uint32_t* version) override;

  // The IObjectSafety part of the control: asks the control itself for the interface named by
  // the caller, answers 3/3, and lets options be switched on but never off.
  class XObjSafe final : public com::IObjectSafety {
   public:
    explicit XObjSafe(CkavrelCtrl* outer) : outer_(outer) {}
    com::HRESULT QueryInterface(const com::IID& iid, void** out) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    com::HRESULT GetInterfaceSafetyOptions(const com::IID& iid, uint32_t* supported, uint32_t* enabled) override;
    com::HRESULT SetInterfaceSafetyOptions(const com::IID& iid, uint32_t option_set_mask,
                                           uint32_t enabled_options) override;

   private:
    CkavrelCtrl* outer_;
  };

  // The class factory of the control class; registers and unregisters it.
  class CkavrelCtrlFactory final : public com::IClassFactory {
   public:
    com::HRESULT QueryInterface(const com::IID& iid, void** out) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    com::HRESULT CreateInstance(com::IUnknown* outer, const com::IID& iid, void** out) override;
    com::HRESULT LockServer(bool lock) override;
    // Writes (true) or removes (false) the class's registration.
    static bool UpdateRegistry(bool register_class);
  };

  // ---- script methods (dispatch table order) ----
  void AboutBox();
  void CliInit(const char16_t* szServerAddr, const char16_t* szAppKey, const char16_t* szAppPass,
               const char16_t* szSvraddr, int32_t lSvrport, const char16_t* szSvrkey);
  void CliUnInit();
  int32_t CliSetPicNum(int32_t lPicNum);
  int32_t CliGetPicNum();
  int32_t CliGetCurrPicIndex();
  void CliEnableViewDoubleClick(int32_t lEnable);
  void CliShowViewTitle(int32_t lShow);
  void CliShowViewStatus(int32_t lShow);
  void CliDeviceSearch();
  int32_t CliGetFirstIdelPicIndex();
  std::u16string CliCapturePicToInternetCache(int32_t lPnlIndex);
  int32_t CliPlayerSetOsd(int32_t lPnlIndex, const char16_t* bstrOsd, int32_t nPos, int32_t x, int32_t y);
  int32_t CLiPTZCtrl(int32_t lDevHandle, int32_t nChannel, int32_t nStream, int32_t nControlType, int32_t nSpeed);
  int32_t CliSetVolume(int32_t lPnlIndex, int32_t nVolume);
  int32_t CliGetVolume(int32_t lPnlIndex);
  int32_t CliSetAudioState(int32_t lPnlIndex, int32_t lState);
  int32_t CliGetAudioState(int32_t lPnlIndex);
  int32_t CliStartAudio(int32_t lPnlIndex);
  void CliStopAudio(int32_t lPnlIndex);
  void CliFullScreen(int32_t bFull);
  void CliCloudInitSimple(const char16_t* szUser, const char16_t* szPass);
  void CliDelDevice(const char16_t* szID);
  void CliCloudSync();
  void CliCloudGetDeviceListSp();
  void CliCloudGetCamListSp();
  void CliQueryAlarm(const char16_t* devid, const char16_t* timeBegin, const char16_t* timeEnd);
  void CliOpenDeviceWeb(const char16_t* szDevID);
  void CliAddDeviceP2P(const char16_t* szDeviceId, const char16_t* szDevUser, const char16_t* szDevPass,
                       const char16_t* szDevName, int32_t szDevPort, int32_t szHttpPort);
  int32_t CliStartPlayDev(const char16_t* camID, int32_t lStreamID, int32_t lPnlIndex);
  void CliStopPlayDev(int32_t lPnlIndex);
  void CliQueryRecordDev(const char16_t* camID, const char16_t* szStartTime, const char16_t* szEndTime);
  void CliStartListenAlertDev(const char16_t* camID, int32_t lAlertType);
  void CliStopListenAlertDev(const char16_t* camID);
  void CliQueryRecordStatusDev(const char16_t* camID, const char16_t* szMonth);
  void CliStartPlaybackDev(const char16_t* camID, const char16_t* szStartTime, int32_t lPnlIndex);
  void CliStopPlaybackDev(int32_t lPnlIndex);
  void CliControlPlaybackDev(int32_t lPnlIndex, int32_t lCtrlCmd);
  void CliLoginDeviceP2PDev(const char16_t* szDeviceId, const char16_t* szDevUser, const char16_t* szDevPass,
                            int32_t szDevPort, int32_t szHttpPort);
  void CliLoginoutDeviceP2PDev(const char16_t* szDeviceId);
  void CliChangePageTo(int32_t lPage);
  void CliSetP2PPortRange(int32_t lRangeStart, int32_t lRangeEnd);
  void CliPTZStop(int32_t lPnlIndex);
  void CliPTZZoomStop(int32_t lPnlIndex);
  void CliPTZZoomIn(int32_t lPnlIndex, int32_t lSpeed);
  void CliPTZZoomOut(int32_t lPnlIndex, int32_t lSpeed);
  void CliPTZMoveUp(int32_t lPnlIndex, int32_t lSpeed);
  void CliPTZMoveDown(int32_t lPnlIndex, int32_t lSpeed);
  void CliPTZMoveLeft(int32_t lPnlIndex, int32_t lSpeed);
  void CliPTZMoveRight(int32_t lPnlIndex, int32_t lSpeed);
  void CliPTZRecallPreset(int32_t lPnlIndex, int32_t lPreset);
  void CliPTZSetPreset(int32_t lPnlIndex, int32_t lPreset);
  void CliPTZDeletePreset(int32_t lPnlIndex, int32_t lPreset);
  void CliSaveLayout(const char16_t* szLayoutName);
  bool CliLoadLayout(const char16_t* szLayoutName);
  std::u16string CliEnumLayouts();
  void CliDeleteLayout(const char16_t* szLayoutName);
  int32_t CliGetBuild();
  int32_t CliStartBackup(const char16_t* camID, const char16_t* szStartTime, int32_t lBackupLenSecs);
  int32_t CliStopBackup();
  int32_t CliGetHTTPPort(const char16_t* szDeviceID);
  int32_t CliGetHTTPSPort(const char16_t* szDeviceID);
  int32_t CliGetTCPPort(const char16_t* szDeviceID);

  // ---- events (raised on the user-interface thread only) ----
  void FireCliCallBackMsg(int32_t hContext, int32_t handle, int32_t nID, int32_t nTag1, int32_t nTag2,
                          const char16_t* szInfo, int32_t nInfoLen);
  void FireCliCreatedNotify(int32_t lCreated);

  // ---- queues and threads (any thread unless said otherwise) ----
  // Queues a library result for the DoCallbackThread (context and handle stored as 0); 1.
  int Callback(int32_t hContext, int32_t handle, int32_t nID, int32_t nTag1, int32_t nTag2, const char* szInfo,
               int32_t nInfoLen);
  // Queues a script event for the user-interface thread and arms the event timer; 1.
  int FireEventCallback(int32_t hContext, int32_t handle, int32_t nID, int32_t nTag1, int32_t nTag2,
                        const char* szInfo, int32_t nInfoLen);
  // Queues a command for the CmdThread.
  void PostCmd(const char* text);
  // User-interface thread: start and stop the two long-lived threads.
  void StartDoCallbackThread();
  void StopDoCallbackTread();
  void StartCmdThread();
  void StopCmdThread();
  // DoCallbackThread: empties the callback message queue.
  void DoCallBackMsg();
  // CmdThread: runs queued commands until the queue is empty or the thread is stopped.
  void RunCommands(const TaskWorker::Context& context);
  // The library callback (library's dispatcher thread); `user` is the control.
  static int connectorcallback(intptr_t user, brixa_handle client, int32_t id, intptr_t param1, int32_t param2,
                               const char* info, int32_t info_len);

  // ---- device and camera model (any thread unless said otherwise) ----
  // DoCallbackThread: the device list, the camera list.
  void SetDevInfo(const char* szInfo);
  int SetCamInfo(const char* szInfo);
  // A device description (dispatcher thread or DoCallbackThread).
  void SetCamInfoP2P(const char* szInfo);
  // Posts the write-back of both lists to the cloud.
  void UpdateCamInfoToServer();
  // CliUnInit's steps.
  void SuspendDeviceInfo();
  void UniniDeviceInfo();
  void UniniCamInfo();

  // ---- device connection and login ----
  // 0 logged in, -1 aborted, -10 tunnel not up or no record, -11 password refused, else the
  // library's login result (-1 also when the user-interface thread is asked to end meanwhile).
  // Workers block while they wait; on the user-interface thread (a service-port query) the wait
  // keeps the thread's messages flowing.
  int LoginDev(const std::shared_ptr<DevInfo>& device);
  void SuspendLoginDev(const std::shared_ptr<DevInfo>& device);
  void LogoutDev(const std::shared_ptr<DevInfo>& device);
  void CreateDevP2PConnect(const std::shared_ptr<DevInfo>& device);
  void ReleaseDevP2P(const std::shared_ptr<DevInfo>& device);
  void StartAddDeviceThread(const std::shared_ptr<DevInfo>& device);
  void StopAddDeviceThread(const std::shared_ptr<DevInfo>& device);
  void StartLoginDeviceP2PDevThread(const std::shared_ptr<DevInfo>& device);
  void StopLoginDeviceP2PDevThread(const std::shared_ptr<DevInfo>& device);

  // ---- disconnected notifications (any thread) ----
  void AddDisconnectedNotification(const char* info, int32_t len);
  bool ClearDisconnectedNotification(const char* info, int32_t len);
  void FireDisconnectedNotifications();
  // Tests: how long a device must stay offline before its offline event.
  void set_offline_delay_for_testing(uint32_t ms) { m_offlineDelayMs.store(ms); }

  // Library callbacks 255 and 257, under the callback lock.
  void OnTunnelStatus(brixa_handle client, brixa_connection tunnel, int32_t status, const char* info,
                      int32_t info_len);
  void OnDeviceInformation(int32_t result, const char* info);

  // A live-start result for the pane at `pane`: hides its connecting indicator. False when no
  // such pane exists (the result is then dropped).
  bool NotifyPaneLiveStarted(int32_t pane);

  const RecordMap<DevInfo>& devices() const { return m_devices; }
  const RecordMap<CamInfo>& cameras() const { return m_cameras; }
  int account_mode() const { return m_accountMode.load(); }

  // ---- live viewing ----
  // Start thread (and the pane's "Reconectar"): starts the stream of a logged-in device in a
  // pane; 0 or the negative result of the start.
  int StartPlayDev(const std::string& szDevID, int32_t nChannel, int32_t nStreamID, int32_t lPnlIndex);
  // User-interface thread: stops the stream of a pane and logs its device out.
  void StopPlayDev(int32_t lPnlIndex);
  // User-interface thread: stops the camera's start thread, waiting at most 2000 ms.
  void StopPlayThread(const std::shared_ptr<CamInfo>& camera);
  // User-interface thread: restarts every pane of the pane assignment, half a second from now.
  void ResumeLive();
  // User-interface thread: stops all sixteen panes and tells the page of each.
  void CloseAllConnections();
  // The channel-resolution cache and its file (any thread).
  void AddChannelResolution(const std::string& dev_id, int32_t channel, int32_t stream, int32_t width,
                            int32_t height);
  void SaveChannelResolutionList();
  void LoadChannelResolutionList();
  const ChannelResolutionCache& channel_resolutions() const { return m_channelResolutions; }
  // The full name of a file of the configuration folder.
  std::string GetConfigFileName(const std::string& file) const;
  // User-interface thread: applies what a start thread left in a pane's slot (title, size,
  // alarm output); the resume pass.
  void OnLiveSlotChanged(int32_t pane);
  void OnResumeLive();
  // The default layout: a camera list arms its restore; the timer runs it.
  void OpenDefaultLayout();
  void OnDefaultLayoutTimer();
  // State for tests and other operations; out-of-range panes give an idle slot.
  const LiveSlot& live_slot(int32_t pane) const;
  std::string pane_camera(int32_t pane) const;  // user-interface thread
  int32_t pane_stream(int32_t pane) const;      // user-interface thread
  bool bulk_restart() const { return m_bulkRestart.load(); }

  // ---- recorded video: playback, record search, export ----
  // The play worker's playback start: the playback handle (above 0), or -1 / the library's
  // negative result.
  int32_t StartPlaybackDev(const std::string& szDevID, int32_t nChannel, const std::string& szStartTime,
                           int32_t lPnlIndex);
  // User-interface thread: stops the playback in the playback pane.
  void StopPlaybackDev();
  // User-interface thread: the record search workers of a camera.
  void StartQueryRecordThread(const std::shared_ptr<CamInfo>& camera);
  void StopQueryRecordThread(const std::shared_ptr<CamInfo>& camera);
  void StartQueryRecordStatusThread(const std::shared_ptr<CamInfo>& camera);
  void StopQueryRecordStatusThread(const std::shared_ptr<CamInfo>& camera);
  // User-interface thread: the 10-second skips, in the camera's play worker slot.
  void StartPlaySkipForwardThread(const std::shared_ptr<CamInfo>& camera);
  void StartPlaySkipBackwardThread(const std::shared_ptr<CamInfo>& camera);
  // Any thread: an export runs for the current camera.
  bool isBackupRunning() const;
  // Converts a DAV file into an MP4 file; true when the MP4 file was written.
  bool ConvertDAV2MP4(const std::string& source, const std::string& destination);
  // Names in the writable cache folder: an export's temporary file, a pane's local recording
  // (empty for a pane of 16 or more; only the folder when the pane is not streaming).
  std::string GetTempVideoFileName() const;
  std::string GetVideoFileName(int32_t lPnlIndex) const;
  // The save of a finished video file (dialog, conversion, copy, temporary files deleted).
  void SaveVideoFile(const std::string& source);
  // Library callbacks 261 and 262 (library's callback thread, under the callback lock).
  void OnBackupProgress(int32_t total, int32_t done);
  void OnBackupCompleted();
  // User-interface thread: applies the playback start's title and size; presses or releases the
  // playback pane's export button.
  void OnPlaybackChanged();
  void OnExportButton(bool pressed);
  // State for tests and other operations.
  int32_t playback_handle() const { return m_playbackHandle.load(); }
  std::shared_ptr<CamInfo> current_camera() const;
  // ---- snapshots and local recordings (user-interface thread) ----
  // Saves the picture of a live pane (live) or of the playback into `file`; true when the
  // library wrote it. Plays the snapshot sound first.
  bool CliCapturePictureDev(int32_t lPnlIndex, const std::string& file, bool live);
  bool CliStartVideoRecordDev(int32_t lPnlIndex, const std::string& file, bool live);
  bool CliStopVideoRecordDev(int32_t lPnlIndex, bool live);
  std::string GetTempImageFileName() const;
  // The file a local recording of the pane goes to; empty for a bad pane or device identifier,
  // the folder alone when the pane does not stream.
  std::string GetRecordingFileName(int32_t lPnlIndex) const;
  static void ConvertBMP2PNG(const char* srcPath, const char* dstPath);
  static void ConvertBMP2BMP(const char* srcPath, const char* dstPath);
  static void ConvertBMP2JPG(const char* srcPath, const char* dstPath);
  // The tool bar's snapshot and record buttons on the selected pane.
  void OnSnapshotButton(int32_t index);
  void OnRecordButton(int32_t index);
  // Hands a finished local recording to the save-video procedure.
  void SaveLocalRecording(const std::string& file);
  // Stops a running local recording of the pane without saving it (the file stays in the cache
  // folder); closing a pane or all panes.
  void StopLocalRecording(int32_t index);
  bool local_recording(int32_t index) const;
  // Plays one of the control's WAVE resources through the host site, without waiting.
  static void PlayControlSound(uint32_t resource_id);

  // ---- PTZ and fisheye (user-interface thread) ----
  void CliPTZGenericCommand(int32_t lPnlIndex, int32_t command, int32_t parameter);
  void CliSetFisheyeMounting(int32_t lPnlIndex, int32_t command);
  void CliSetFisheyeVisualization(int32_t lPnlIndex, int32_t command);
  int32_t pane_mount_mode(int32_t pane) const;
  int32_t pane_visualization(int32_t pane) const;
  // Tests (user-interface thread): fills a pane's live slot as a started stream leaves it.
  void set_live_slot_for_testing(int32_t pane, const std::string& dev_id, int32_t channel, bool streaming,
                                 std::shared_ptr<CamInfo> camera);
  // Tests: the library media calls the control makes (the table must outlive the control).
  void set_media_calls_for_testing(const MediaCalls* calls) { m_media.store(calls); }
  // ---- alerts, alarm outputs, device search (kavrel/media/alerts.cpp) ----
  // User-interface thread: the camera's listen worker (one pass: log in, start listening).
  void StartListenAlertThread(const std::shared_ptr<CamInfo>& camera);
  void StopListenAlertThread(const std::shared_ptr<CamInfo>& camera);
  // Output 0 of the device behind a pane: 1 on, 0 off, negative on failure (-1 bad pane, -3 no
  // camera in the pane); the two switches give the library's result.
  int32_t CliGetAlarmDev(int32_t lPnlIndex);
  int32_t CliSetAlarmOnDev(int32_t lPnlIndex);
  int32_t CliSetAlarmOffDev(int32_t lPnlIndex);
  // The pane tool bar's alarm-output button: switches the output and shows what the device says.
  void OnAlarmOutputButton(int32_t lPnlIndex);

  // ---- window handlers (user-interface thread) ----
  int OnCreate();
  void OnDestroy();
  void OnTimer(uintptr_t id);
  void OnSize();
  // Paints the control's own background into its window.
  void OnDraw();
  // The command dispatcher: a command from the wall (or the playback pane) with the wall's
  // selected pane.
  void OnCmsBtnLButtonDown(int32_t index, int32_t command);

  // ---- video wall (user-interface thread) ----
  // Builds the wall and the playback pane under the control window (part of OnCreate).
  void CreateVideoWindows();
  ui::CVideoWndManger* video_wall() const { return m_videoWall.get(); }
  ui::CVideoWnd* playback_pane() const { return m_playbackWnd.get(); }
  int32_t current_page() const { return m_lPage; }
  bool full_screen() const { return m_bFullScreen.load(); }
  // Whether a pane's live slot holds a camera (written by live viewing).
  void SetLiveSlotInUse(int32_t pane, bool in_use);

  // ---- state others read ----
  brixa_handle client() const { return m_hClient.load(); }
  bool initialised() const { return m_bInitialised; }
  int32_t device_list_serial() const { return m_devListSn.load(); }
  int32_t camera_list_serial() const { return m_camListSn.load(); }
  int stop_connecting() const { return m_stopConnecting.load(); }
  const std::u16string& app_key() const { return m_appKey; }
  const std::u16string& app_pass() const { return m_appPass; }
  const std::u16string& server_address() const { return m_serverAddr; }
  platform::HWND window() const { return m_hWnd.load(); }
  std::thread::id apartment() const { return m_apartment; }
  size_t pending_events() const { return m_eventQueue.size(); }
  size_t pending_callback_messages() const { return m_callbackQueue.size(); }
  size_t pending_commands() const { return m_cmdQueue.size(); }
  bool callback_thread_running() const { return m_doCallbackThread.running(); }
  bool cmd_thread_running() const { return m_cmdThread.running(); }

  // Full screen: the wall leaves the control and covers the screen until CliFullScreen(0) or
  // Escape (seen by the watcher thread, which asks the user-interface thread to leave).
  void EnterFullScreen();
  void LeaveFullScreen();

  // Tests: the library cloud calls the control makes (the table must outlive the control).
  void set_cloud_calls_for_testing(const CloudCalls* calls) { m_cloud.store(calls); }

 private:
  CkavrelCtrl();
  ~CkavrelCtrl();
  CkavrelCtrl(const CkavrelCtrl&) = delete;
  CkavrelCtrl& operator=(const CkavrelCtrl&) = delete;

  static platform::LRESULT WindowProc(platform::HWND window, platform::UINT message, platform::WPARAM wparam,
                                      platform::LPARAM lparam);
  bool OnApartment() const { return std::this_thread::get_id() == m_apartment; }
  // How a wait of the calling thread goes: serving messages on the user-interface thread of a
  // control that is not being taken apart, blocking otherwise.
  WaitStyle UiWaitStyle() const;
  // Arms the event timer when records wait and it is not armed. Event queue lock held.
  void ArmEventTimerLocked();
  // Stops the full-screen watcher thread and waits for it (user-interface thread).
  void StopFullScreenWatcher();
  // Runs one command text; false when it was dropped.
  bool RunCommand(const std::string& text);
  // Stops the long-lived threads and drops the queues' records (part of CliUnInit).
  void DropQueues();
  // Live viewing: the camera's start thread and its body; the save of the pane assignment.
  void StartPlayThread(const std::shared_ptr<CamInfo>& camera, int32_t pane);
  void RunStartPlayThread(const std::shared_ptr<CamInfo>& camera, int32_t pane, TaskWorker::Context& context);
  void SaveSetup();
  // Layouts: the wall's pane count and assignment now; the save and load behind the script
  // methods and the default layout (`only_when_changed`: leave a wall that already shows the
  // layout, or a missing file, alone).
  Layout CurrentLayout();
  void SaveLayoutFile(const char* method, const std::string& name);
  bool LoadLayoutFile(const char* method, const std::string& name, bool only_when_changed);
  bool LoadSetup();
  // The body of a camera's listen worker.
  void RunListenAlertThread(const std::shared_ptr<CamInfo>& camera, TaskWorker::Context& context);
  // The alarm-output methods' common body: runs `before` (may be null), checks the pane (-1 bad
  // pane, -3 no camera in it), makes `output_call` on output 0 of the pane's device, waiting as
  // UiWaitStyle says, and traces an exception under `method` (-1).
  using AlarmOutputCall = int32_t (*)(brixa_handle client, const char* dev_id, int32_t output_index);
  int32_t CallPaneAlarmOutput(int32_t lPnlIndex, const char* method, void (*before)(), AlarmOutputCall output_call);
  // Posts the show (true) or hide of a pane's connecting indicator (any thread).
  void PostConnecting(int32_t pane, bool on);
  // Recorded video: the current camera; the playback pane's messages (any thread); the play
  // worker's playback start and the skips.
  void SetCurrentCamera(std::shared_ptr<CamInfo> camera);
  void PostToPlaybackPane(platform::UINT message, platform::WPARAM wparam);
  void StartPlaybackThread(const std::shared_ptr<CamInfo>& camera);
  void RunPlaybackThread(const std::shared_ptr<CamInfo>& camera, TaskWorker::Context& context);
  void StartPlaySkipThread(const std::shared_ptr<CamInfo>& camera, bool forward);
  // The refused-login handling of a device (password refused by it, -11).
  void OnLoginRefused(const std::shared_ptr<DevInfo>& device);

  // Immutable after construction.
  const std::thread::id m_apartment;
  XObjSafe m_xObjSafe{this};

  std::atomic<uint32_t> m_refs{1};

  // User-interface thread only.
  std::atomic<bool> m_bInitialised{false};  // written on the user-interface thread, read by start threads
  std::u16string m_serverAddr;
  std::u16string m_appKey;
  std::u16string m_appPass;
  std::map<uint32_t, com::ComPtr<com::IDispatch>> m_sinks;
  uint32_t m_nextCookie = 1;
  bool m_enableViewDoubleClick = false;

  // The video wall, the playback pane and the page shown (0 live, 1 playback). User-interface
  // thread only; the windows live from OnCreate to the control window's destruction.
  std::unique_ptr<ui::CVideoWndManger> m_videoWall;
  std::unique_ptr<ui::CVideoWnd> m_playbackWnd;
  int32_t m_lPage = 0;
  // Which panes' live slots hold a camera; written by live viewing on the user-interface thread.
  std::array<bool, 16> m_liveSlotInUse{};
  // The panes' render windows, for threads that post to them: written on the user-interface
  // thread when the wall is built and torn down, read by the DoCallbackThread.
  std::array<std::atomic<platform::HWND>, 16> m_paneRenderWindows{};
  // Live viewing. The slots: see LiveSlot for who touches what. The pane assignment is the
  // user-interface thread's alone. bulkRestart is written there and read by CliStartPlayDev.
  std::array<LiveSlot, 16> m_liveSlots;
  LiveSlot m_idleSlot;
  std::array<std::string, 16> m_paneCamId;
  std::array<int32_t, 16> m_paneStreamId{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  std::atomic<bool> m_bulkRestart{false};
  // Set while a layout is being loaded, so its steps are not saved as the default layout.
  // User-interface thread only.
  bool m_loadingLayout = false;
  ChannelResolutionCache m_channelResolutions;
  // Sound, PTZ, fisheye, snapshots and local recordings: user-interface thread only, except the
  // table pointer, which tests swap before any call.
  std::atomic<const MediaCalls*> m_media{&library_media_calls()};
  int32_t m_ptzLastCommand = -1;
  int32_t m_ptzLastParam = 0;
  std::array<int32_t, 16> m_paneMountMode{};
  std::array<int32_t, 16> m_paneVisualization{};
  struct LocalRecording {
    bool on = false;
    bool live = true;
    std::string file;
  };
  std::array<LocalRecording, 16> m_recordings;
  // Waits out the resume delay, then asks the user-interface thread for the resume pass.
  TaskWorker m_resumeThread{"CkavrelCtrl::ResumeLive", 45, "ResumeLiveThread is not ending (45)"};
  // Full screen: the flag is read by the watcher thread; the thread is started and joined on the
  // user-interface thread. m_fullScreenLock guards nothing but the watcher's wait.
  std::atomic<bool> m_bFullScreen{false};
  std::thread m_fullScreenWatcher;
  std::mutex m_fullScreenLock;
  std::condition_variable m_fullScreenWake;

  // Recorded video. The playback pane's render window is set and cleared with the wall, read by
  // the workers that post to it. The playback handle and channel are written by the play and
  // skip workers and the user-interface thread. m_playbackLock guards the playback device, the
  // current camera (the playback's or the export's, written by the user-interface thread and
  // the library's callback thread) and what the play worker leaves for the pane.
  std::atomic<platform::HWND> m_playbackRenderWindow{nullptr};
  std::atomic<int32_t> m_playbackHandle{0};
  std::atomic<int32_t> m_playbackChannel{0};
  mutable std::mutex m_playbackLock;
  std::string m_playbackDevId;             // guarded by m_playbackLock
  std::shared_ptr<CamInfo> m_currentCamera;  // guarded by m_playbackLock
  struct PlaybackPending {
    bool title_set = false;
    std::string title;
    bool size_set = false;
    int32_t width = 0;
    int32_t height = 0;
  } m_playbackPending;  // guarded by m_playbackLock

  // Read by the threads and the library callback; written on the user-interface thread.
  std::atomic<int> m_stopConnecting{0};
  std::atomic<int> m_accountMode{0};
  std::atomic<brixa_handle> m_hClient{nullptr};
  std::atomic<const CloudCalls*> m_cloud{&library_cloud_calls()};
  // The control's window: set and cleared on the user-interface thread, read by threads that
  // arm the event timer.
  std::atomic<platform::HWND> m_hWnd{nullptr};
  // Written on the user-interface thread and by the library callback.
  std::atomic<int32_t> m_devListSn{-1};
  std::atomic<int32_t> m_camListSn{-1};

  // The device whose web tunnels are open; written by the user-interface thread and the
  // dispatcher thread.
  std::mutex m_webDeviceLock;
  std::shared_ptr<DevInfo> m_currentWebDevice;  // guarded by m_webDeviceLock

  RecordMap<DevInfo> m_devices;
  RecordMap<CamInfo> m_cameras;

  // Devices reported offline and not yet announced: identifier -> payload copy and the time it
  // was recorded. A key may stay without an entry once its entry was cleared.
  struct DisconnectedNotification {
    std::string payload;
    uint64_t recorded_ms = 0;
  };
  std::mutex m_disconnectedLock;
  std::map<std::string, std::optional<DisconnectedNotification>> m_disconnected;  // guarded
  std::atomic<uint32_t> m_offlineDelayMs{10000};

  // Held while one library callback is dispatched.
  std::recursive_mutex m_callbackLock;

  // The three queues, each with its own lock. The event timer id is guarded by the event
  // queue's lock, so arming and the last empty check cannot miss each other.
  LockedQueue<ControlMessage> m_callbackQueue;
  class EventQueue : public LockedQueue<ControlMessage> {
   public:
    template <class Fn>
    void push_then(ControlMessage m, Fn fn) {
      std::lock_guard<std::mutex> hold(lock_);
      items_.push_back(std::move(m));
      fn();
    }
    template <class Fn>
    std::optional<ControlMessage> pop_or(Fn when_empty) {
      std::lock_guard<std::mutex> hold(lock_);
      if (items_.empty()) {
        when_empty();
        return std::nullopt;
      }
      ControlMessage front = std::move(items_.front());
      items_.pop_front();
      return front;
    }
    template <class Fn>
    void locked(Fn fn) {
      std::lock_guard<std::mutex> hold(lock_);
      fn(items_.empty());
    }
  } m_eventQueue;
  intptr_t m_eventTimerId = -1;  // guarded by m_eventQueue's lock
  LockedQueue<CommandRecord> m_cmdQueue;

  TaskWorker m_doCallbackThread{"CkavrelCtrl::StopDoCallbackTread", 2717, "DoCallbackThread is not ending (2717)"};
  TaskWorker m_cmdThread{"CkavrelCtrl::StopCmdThread", 2189, "CmdThread is not ending (2189)"};
};

// The class factory of the property page; its object shows the page as plain data.
class CkavrelPropPage final : public com::IPropertyPageInfo {
 public:
  class CkavrelPropPageFactory final : public com::IClassFactory {
   public:
    com::HRESULT QueryInterface(const com::IID& iid, void** out) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    com::HRESULT CreateInstance(com::IUnknown* outer, const com::IID& iid, void** out) override;
    com::HRESULT LockServer(bool lock) override;
    static bool UpdateRegistry(bool register_class);
  };

  CkavrelPropPage();
  com::HRESULT QueryInterface(const com::IID& iid, void** out) override;
  uint32_t AddRef() override;
  uint32_t Release() override;
  com::HRESULT GetPageInfo(std::string* caption, uint32_t* dialog_resource, std::vector<std::string>* lines) override;

 private:
  ~CkavrelPropPage();
  std::atomic<uint32_t> m_refs{1};
};

}  // namespace kavrel
