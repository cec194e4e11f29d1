// nadixq for C#: the library's exports through P/Invoke, and a small layer
// over them (Spectrometer, Processing, Simulator, NadixqException).
//
// One file, for .NET Framework 4.x and Mono. The library is the 32-bit
// nadixq.dll on Windows, so the host process must be 32-bit (platform target
// x86, or AnyCPU with "Prefer 32-bit"); on Linux it is libnadixq.so, which the
// same declarations reach under Mono (see README.md for the library's name
// there).
//
// The library drives one instrument per process and keeps its settings in
// process-wide state: opening a Spectrometer closes the one open before, and
// the settings keep their values across close and the next open.

using System;
using System.Collections.Generic;
using System.ComponentModel;
using System.Runtime.InteropServices;
using System.Threading;

namespace Nadixq
{
    /// <summary>
    /// The exports as the library declares them, for hosts that want the C
    /// interface itself. Results: 0 success, 1 a refusal, HRESULTs
    /// (0x8007xxxx) for system failures, board results passed through.
    /// </summary>
    public static class NativeMethods
    {
        // Mono finds "libnadixq.so" for this name on Linux, Windows "nadixq.dll".
        public const string Library = "nadixq";

        // Every export is __stdcall on 32-bit Windows (the callee removes the
        // arguments); elsewhere there is one convention and this is ignored.
        private const CallingConvention Call = CallingConvention.StdCall;

        // Settings. Stored only; they reach the board at initialize and start.
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern double spectrometer_setGain(double gain);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern double spectrometer_getGain();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern double spectrometer_setResolution(double resolution);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern double spectrometer_getResolution();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_setPoints(int points);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_getPoints();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_setScans(int scans);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_getScans();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_setFiles(int files);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_getFiles();

        // Events, status and progress. A handle is a Win32 event on Windows,
        // an eventfd descriptor on Linux; IntPtr.Zero switches the signal off.
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_setScanCompleteEventHandle(IntPtr handle);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_setCoaddCompleteEventHandle(IntPtr handle);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_getStatus();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_getScanProgress();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_getFileProgress();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_execute(int command);

        // Instrument.
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_open(int id);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_close();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_initialize();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_calibrationScan();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_getCapabilities();

        // Run. getData's pts must equal spectrometer_getPoints().
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_startCoadd();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_stop();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_getData([Out] double[] data, int pts, out double timestamp);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern double spectrometer_getTimestamp();

        // The path goes in the ANSI code page on Windows (UTF-8 under Mono on
        // Linux). A character that code page lacks throws instead of being
        // replaced by a look-alike, which would name another file.
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true, CharSet = CharSet.Ansi,
                   BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int spectrometer_streamToDisk([MarshalAs(UnmanagedType.LPStr)] string path);

        // Board input and output. A fiber frame is 16 unsigned 32-bit words.
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_writeFiber([In] uint[] frame);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_readFiber([Out] uint[] frame);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int spectrometer_writeAux(ushort data, ushort mask);

        // The processing functions have C++ linkage: the 32-bit DLL exports
        // them under a 32-bit Windows C++ compiler's names, every other build
        // (Linux, the 64-bit DLL) under the Itanium names. Both sets are
        // declared; a P/Invoke binds on its first call, so the set that does
        // not apply is never looked up.
        private static readonly bool WindowsNames = IsWindows && IntPtr.Size == 4;

        internal static bool IsWindows
        {
            get
            {
                PlatformID platform = Environment.OSVersion.Platform;
                return platform == PlatformID.Win32NT || platform == PlatformID.Win32Windows;
            }
        }

        private static class Win32Names
        {
            [DllImport(Library, CallingConvention = Call, ExactSpelling = true, EntryPoint = "?FindZPD@@YGHPANHHHH@Z")]
            public static extern int FindZPD([In] double[] ifg, int pts, int hint, int start, int end);
            [DllImport(Library, CallingConvention = Call, ExactSpelling = true, EntryPoint = "?BaselineCorrectIfg@@YGHPANHH@Z")]
            public static extern int BaselineCorrectIfg([In, Out] double[] ifg, int pts, int mode);
            [DllImport(Library, CallingConvention = Call, ExactSpelling = true, EntryPoint = "?GaussianApodize@@YGHPANHN@Z")]
            public static extern int GaussianApodize([In, Out] double[] ifg, int pts, double width);
        }

        private static class ItaniumNames
        {
            [DllImport(Library, CallingConvention = Call, ExactSpelling = true, EntryPoint = "_Z7FindZPDPdiiii")]
            public static extern int FindZPD([In] double[] ifg, int pts, int hint, int start, int end);
            [DllImport(Library, CallingConvention = Call, ExactSpelling = true, EntryPoint = "_Z18BaselineCorrectIfgPdii")]
            public static extern int BaselineCorrectIfg([In, Out] double[] ifg, int pts, int mode);
            [DllImport(Library, CallingConvention = Call, ExactSpelling = true, EntryPoint = "_Z15GaussianApodizePdid")]
            public static extern int GaussianApodize([In, Out] double[] ifg, int pts, double width);
        }

        /// <summary>Index of the ZPD in ifg[start..end], or -3.</summary>
        public static int FindZPD(double[] ifg, int pts, int hint, int start, int end)
        {
            return WindowsNames ? Win32Names.FindZPD(ifg, pts, hint, start, end)
                                : ItaniumNames.FindZPD(ifg, pts, hint, start, end);
        }

        /// <summary>1 when the baseline was removed, 0 when refused.</summary>
        public static int BaselineCorrectIfg(double[] ifg, int pts, int mode)
        {
            return WindowsNames ? Win32Names.BaselineCorrectIfg(ifg, pts, mode)
                                : ItaniumNames.BaselineCorrectIfg(ifg, pts, mode);
        }

        /// <summary>1 when the window was applied, 0 when refused.</summary>
        public static int GaussianApodize(double[] ifg, int pts, double width)
        {
            return WindowsNames ? Win32Names.GaussianApodize(ifg, pts, width)
                                : ItaniumNames.GaussianApodize(ifg, pts, width);
        }
    }

    /// <summary>Result codes with a meaning of their own.</summary>
    public static class ResultCodes
    {
        public const int Success = 0;
        public const int Refused = 1;
        public const int ZpdNotFound = -3;
        public const int NotSupported = unchecked((int)0x80004001);
        public const int NoBoardClass = unchecked((int)0x80070011);
        public const int DeviceNotOpened = unchecked((int)0x8007006E);
        public const int TransferFailed = unchecked((int)0x8007045D);
        public const int CalibrationFailed = unchecked((int)0x80070005);
    }

    /// <summary>
    /// A failure result of the library. <see cref="Code"/> is the result as
    /// returned (compare with <see cref="ResultCodes"/>), <see cref="Operation"/>
    /// the step that failed ("open", "initialize", "calibrate", "start",
    /// "stream", "data", "aux", "fiber", "zpd", "baseline", "apodize").
    /// </summary>
    public class NadixqException : Exception
    {
        public int Code { get; private set; }
        public string Operation { get; private set; }

        public NadixqException(string operation, int code, string text)
            : base(text + " (" + CodeText(code) + ")")
        {
            Code = code;
            Operation = operation;
            HResult = code;
        }

        /// <summary>Small results in decimal, HRESULT-like ones as eight hex digits.</summary>
        public static string CodeText(int code)
        {
            if (code > -0x10000 && code < 0x10000)
                return code.ToString(System.Globalization.CultureInfo.InvariantCulture);
            return "0x" + unchecked((uint)code).ToString("X8", System.Globalization.CultureInfo.InvariantCulture);
        }

        // Board results mean the same in every step. 0x80070005 comes from a
        // board whose calibration failed, although Windows would call it
        // "Access is denied".
        private static string BoardText(int code)
        {
            switch (unchecked((uint)code))
            {
                case 0x80004001: return "not supported by this board";
                case 0x8007045D: return "the board's driver request failed";
                case 0x80070005: return "the calibration failed";
                case 0x80070006:
                case 0x20000006: return "board type mismatch: the driver runs a different board";
                case 0x80070007: return "the calibration failed with error 1";
                case 0x80070008: return "the calibration failed with error 2";
                case 0x80070009: return "the calibration failed with error 3";
                case 0x80070012: return "the board's driver is out of date";
                case 0x20000012: return "the calibration failed";
                default: return null;
            }
        }

        // The system error inside a 0x8007xxxx result: a Win32 error on
        // Windows, the C library's errno elsewhere.
        private static string SystemText(int code)
        {
            if ((unchecked((uint)code) & 0xFFFF0000u) != 0x80070000u)
                return null;
            int error = code & 0xFFFF;
            if (NativeMethods.IsWindows)
                return new Win32Exception(error).Message;
            return Libc.ErrorText(error);
        }

        private static string StepName(string operation)
        {
            switch (operation)
            {
                case "calibrate": return "calibration";
                case "aux": return "aux output";
                case "fiber": return "fiber link";
                default: return operation;
            }
        }

        internal static NadixqException For(string operation, int code, string subject)
        {
            string text;
            string system = SystemText(code);
            string board = BoardText(code);
            switch (operation)
            {
                case "open":
                    if (code == ResultCodes.NoBoardClass)
                        text = "no board class for model " + subject;
                    else if (code == ResultCodes.DeviceNotOpened)
                        text = "the board for model " + subject + " did not open: no device of its interface";
                    else
                        text = "opening model " + subject + " failed";
                    break;
                case "stream":
                    if (system != null)
                        text = "cannot create the stream file " + subject + ": " + system;
                    else if (code == ResultCodes.Refused)
                        text = "the streamed run did not start (is a run still going?)";
                    else
                        text = "cannot create the stream file " + subject;
                    break;
                case "data":
                    text = "no finished file of " + subject + " points is ready";
                    break;
                case "zpd":
                    text = "no zero-path-difference point: the window holds no single zero crossing between its extremes";
                    break;
                case "baseline":
                    text = "baseline not removed: no points, or fewer than 32 for the linear baseline";
                    break;
                case "apodize":
                    text = "not apodized: the width is outside 1e-10 to 1e10 points, or there is no ZPD to centre on";
                    break;
                default:
                    string name = StepName(operation);
                    if (board != null)
                        text = name + ": " + board;
                    else if (code == ResultCodes.Refused && operation == "start")
                        text = "the run did not start (is a run still going?)";
                    else if (code == ResultCodes.Refused)
                        text = name + " refused, or its driver request failed";
                    else if (system != null)
                        text = name + " failed: " + system;
                    else
                        text = name + " failed";
                    break;
            }
            return new NadixqException(operation, code, text);
        }
    }

    /// <summary>Values of <see cref="Spectrometer.Status"/>.</summary>
    public enum SpectrometerStatus
    {
        Unopened = 1,
        Ready = 4,
        Acquiring = 64,
    }

    /// <summary>One file of a run: its averaged interferogram and time stamp.</summary>
    public sealed class AcquiredFile
    {
        internal AcquiredFile(double[] values, double timestamp)
        {
            Values = values;
            Timestamp = timestamp;
        }

        public double[] Values { get; private set; }
        /// <summary>Milliseconds since 1970-01-01 UTC, as the library gives it.</summary>
        public double Timestamp { get; private set; }
        public DateTime Time { get { return Spectrometer.TimeOf(Timestamp); } }
    }

    /// <summary>
    /// The open instrument. Failure results throw <see cref="NadixqException"/>.
    /// Any thread may call Stop, the properties and GetData while another
    /// waits for a file; Dispose must not race the other calls.
    /// <code>
    /// using (var s = new Spectrometer(1)) {
    ///     s.Points = 4096; s.Scans = 16; s.Files = 3;
    ///     s.Initialize(); s.Calibrate();
    ///     foreach (AcquiredFile f in s.Acquire("run.spc")) { ... f.Values ... }
    /// }
    /// </code>
    /// </summary>
    public sealed class Spectrometer : IDisposable
    {
        public const int FiberFrameWords = 16;

        // The point count that stands for the finest setting, and the points it holds.
        private const int FinestPointsAsked = 32768;
        private const int FinestPointsHeld = 30000;

        // While a run goes on, a wait for a file looks at the status this
        // often, so that a run ending without a further file (a failure, a
        // stop from another thread) does not hold the caller for its whole
        // time-out.
        private const int RunEndCheckMilliseconds = 100;

        private static readonly object OpenLock = new object();
        private static Spectrometer openInstance;
        private static bool exitHooked;

        private readonly int model;
        private HostEvent fileEvent;

        /// <summary>Opens model 1 to 5, closing an instrument open before.</summary>
        public Spectrometer(int model)
        {
            this.model = model;
            lock (OpenLock)
            {
                if (openInstance != null)
                    openInstance.Dispose();
                HostEvent created = HostEvent.Create();
                int result = NativeMethods.spectrometer_open(model);
                if (result != 0)
                {
                    // A board that failed to open stays attached to the
                    // library until the next close: release it now.
                    NativeMethods.spectrometer_close();
                    created.Dispose();
                    throw NadixqException.For("open", result, model.ToString(System.Globalization.CultureInfo.InvariantCulture));
                }
                fileEvent = created;
                NativeMethods.spectrometer_setCoaddCompleteEventHandle(created.Handle);
                openInstance = this;
                if (!exitHooked)
                {
                    // A run left going at exit would keep the scan thread
                    // signalling an event that the runtime is tearing down.
                    AppDomain.CurrentDomain.ProcessExit += CloseAtExit;
                    exitHooked = true;
                }
            }
        }

        public int Model { get { return model; } }
        public bool IsClosed { get { return fileEvent == null; } }

        /// <summary>Stops a run still going (completing its stream file) and
        /// closes the instrument. Closing twice does nothing.</summary>
        public void Dispose()
        {
            lock (OpenLock)
            {
                if (fileEvent == null)
                    return;
                NativeMethods.spectrometer_close();
                // Only once the scan thread is gone may the event go: a signal
                // into a closed (perhaps reused) handle would reach someone else.
                NativeMethods.spectrometer_setCoaddCompleteEventHandle(IntPtr.Zero);
                fileEvent.Dispose();
                fileEvent = null;
                if (openInstance == this)
                    openInstance = null;
            }
        }

        private static void CloseAtExit(object sender, EventArgs e)
        {
            Spectrometer instance = openInstance;
            if (instance != null)
                instance.Dispose();
        }

        // Settings: stored by the library for the whole process, sent to the
        // board by Initialize and Start.

        public double Gain
        {
            get { return NativeMethods.spectrometer_getGain(); }
            set { NativeMethods.spectrometer_setGain(value); }
        }

        /// <summary>Setting it also sets Points (1.0: 16384; 0.5 and finer: 30000, read as 32768).</summary>
        public double Resolution
        {
            get { return NativeMethods.spectrometer_getResolution(); }
            set { NativeMethods.spectrometer_setResolution(value); }
        }

        /// <summary>Points per interferogram (32768 stands for the finest setting, 30000).</summary>
        public int Points
        {
            get { return NativeMethods.spectrometer_getPoints(); }
            set { NativeMethods.spectrometer_setPoints(value); }
        }

        /// <summary>Scans co-added into one file.</summary>
        public int Scans
        {
            get { return NativeMethods.spectrometer_getScans(); }
            set { NativeMethods.spectrometer_setScans(value); }
        }

        /// <summary>Files per run; 0 runs until Stop.</summary>
        public int Files
        {
            get { return NativeMethods.spectrometer_getFiles(); }
            set { NativeMethods.spectrometer_setFiles(value); }
        }

        // State.

        public SpectrometerStatus Status { get { return (SpectrometerStatus)NativeMethods.spectrometer_getStatus(); } }
        public bool IsAcquiring { get { return Status == SpectrometerStatus.Acquiring; } }
        /// <summary>Scans done in the current file.</summary>
        public int ScanProgress { get { return NativeMethods.spectrometer_getScanProgress(); } }
        /// <summary>Files done in the current run.</summary>
        public int FileProgress { get { return NativeMethods.spectrometer_getFileProgress(); } }

        /// <summary>The board's capability bits (4: the fiber link, model 3).</summary>
        public int Capabilities
        {
            get { CheckOpen(); return NativeMethods.spectrometer_getCapabilities(); }
        }

        /// <summary>Time stamp of the file GetData would return, in ms since 1970 (0 when none).</summary>
        public double Timestamp
        {
            get { CheckOpen(); return NativeMethods.spectrometer_getTimestamp(); }
        }

        /// <summary>
        /// Set by the library each time a file of the run is complete
        /// (auto-reset: a wait takes the signal; signals that come before the
        /// wait coalesce into one). On Windows the Win32 event that the
        /// library signals; on Linux an event that a thread of this object sets
        /// from the library's eventfd. Also set for a file that got no scan
        /// (after a failure or a stop): check with GetData's time stamp.
        /// </summary>
        public WaitHandle FileCompleted
        {
            get { CheckOpen(); return fileEvent.WaitHandle; }
        }

        // Instrument.

        /// <summary>Sends the point count and the gain to the board.</summary>
        public void Initialize()
        {
            Check("initialize", NativeMethods.spectrometer_initialize());
        }

        /// <summary>Runs the board's calibration, which finds the centre burst.</summary>
        public void Calibrate()
        {
            Check("calibrate", NativeMethods.spectrometer_calibrationScan());
        }

        // Run.

        /// <summary>Starts a run of Files files of Scans co-added scans.</summary>
        public void Start()
        {
            CheckOpen();
            fileEvent.TakePending(); // a signal of an earlier run
            Check("start", NativeMethods.spectrometer_startCoadd());
        }

        /// <summary>Starts a run as Start does and appends every file of it to
        /// a multifile SPC file at path (created or truncated). Stop or Dispose
        /// completes the file.</summary>
        public void StreamToDisk(string path)
        {
            if (path == null)
                throw new ArgumentNullException("path");
            if (path.IndexOf('\0') >= 0)
                throw new ArgumentException("the path holds a NUL character", "path");
            CheckOpen();
            fileEvent.TakePending();
            int result = NativeMethods.spectrometer_streamToDisk(path);
            if (result != 0)
                throw NadixqException.For("stream", result, path);
        }

        /// <summary>Stops the run and completes the stream file. False when no
        /// run was ever started.</summary>
        public bool Stop()
        {
            CheckOpen();
            return NativeMethods.spectrometer_stop() == 0;
        }

        /// <summary>
        /// Waits up to timeout milliseconds (Timeout.Infinite: as long as the
        /// run goes on) until a file of the run is complete. False when the
        /// time ran out or the run ended without a further file. Only the
        /// newest file can be read with GetData.
        /// </summary>
        public bool WaitForFile(int millisecondsTimeout)
        {
            CheckOpen();
            if (millisecondsTimeout < Timeout.Infinite)
                throw new ArgumentOutOfRangeException("millisecondsTimeout");
            int started = Environment.TickCount;
            while (true)
            {
                if (fileEvent.TakePending())
                    return true;
                // The scan thread signals every file before it reports the
                // end, so after seeing the end one more look finds the last.
                if (!IsAcquiring)
                    return fileEvent.TakePending();
                int wait = RunEndCheckMilliseconds;
                if (millisecondsTimeout != Timeout.Infinite)
                {
                    int remaining = millisecondsTimeout - unchecked(Environment.TickCount - started);
                    if (remaining <= 0)
                        return false;
                    wait = Math.Min(wait, remaining);
                }
                if (fileEvent.WaitHandle.WaitOne(wait))
                    return true;
            }
        }

        /// <summary>The newest finished file's averaged interferogram (the
        /// finest setting's 32768 points give its 30000 values). Reading does
        /// not consume it. Throws NadixqException (code 1) when no finished
        /// file of the current point count is ready.</summary>
        public double[] GetData()
        {
            double timestamp;
            return GetData(out timestamp);
        }

        /// <summary>As GetData(), with the file's time stamp in ms since 1970.</summary>
        public double[] GetData(out double timestamp)
        {
            CheckOpen();
            int count = Points;
            if (count <= 0)
                throw new InvalidOperationException("the point count is " + count);
            double[] values = new double[count];
            int result = NativeMethods.spectrometer_getData(values, count, out timestamp);
            if (result != 0)
                throw NadixqException.For("data", result, count.ToString(System.Globalization.CultureInfo.InvariantCulture));
            if (count == FinestPointsAsked)
                Array.Resize(ref values, FinestPointsHeld); // the rest stays zero
            return values;
        }

        /// <summary>
        /// Runs an acquisition (streamed to an SPC file when streamPath is not
        /// null) and yields every file as the run produces it, waiting on
        /// FileCompleted in between. The run starts at the first MoveNext;
        /// disposing the enumerator (leaving a foreach) stops it and completes
        /// the stream file. A consumer that falls a whole file behind misses
        /// the one replaced.
        /// </summary>
        public IEnumerable<AcquiredFile> Acquire(string streamPath)
        {
            CheckOpen();
            return Follow(streamPath);
        }

        public IEnumerable<AcquiredFile> Acquire()
        {
            return Acquire(null);
        }

        private IEnumerable<AcquiredFile> Follow(string streamPath)
        {
            if (streamPath == null)
                Start();
            else
                StreamToDisk(streamPath);
            try
            {
                double last = double.NaN;
                while (WaitForFile(Timeout.Infinite))
                {
                    double timestamp;
                    double[] values;
                    try
                    {
                        values = GetData(out timestamp);
                    }
                    catch (NadixqException error)
                    {
                        if (error.Code == ResultCodes.Refused)
                            continue; // nothing stored yet: the run's files got no scan
                        throw;
                    }
                    // A file that got no scan stores nothing: the newest file
                    // is then the one already given.
                    if (timestamp == last)
                        continue;
                    last = timestamp;
                    yield return new AcquiredFile(values, timestamp);
                }
            }
            finally
            {
                if (!IsClosed)
                    Stop();
            }
        }

        // Board input and output.

        /// <summary>Sets the aux output lines selected by mask to the bits of data.</summary>
        public void WriteAux(ushort data, ushort mask)
        {
            CheckOpen();
            Check("aux", NativeMethods.spectrometer_writeAux(data, mask));
        }

        public void WriteAux(ushort data)
        {
            WriteAux(data, 0xFFFF);
        }

        /// <summary>Sends one fiber frame of 16 words (model 3).</summary>
        public void WriteFiber(uint[] frame)
        {
            if (frame == null)
                throw new ArgumentNullException("frame");
            // The library reads exactly 16 words from the pointer it is given.
            if (frame.Length != FiberFrameWords)
                throw new ArgumentException("a fiber frame has 16 words, not " + frame.Length, "frame");
            CheckOpen();
            Check("fiber", NativeMethods.spectrometer_writeFiber(frame));
        }

        /// <summary>Reads one fiber frame of 16 words (model 3).</summary>
        public uint[] ReadFiber()
        {
            CheckOpen();
            uint[] frame = new uint[FiberFrameWords];
            Check("fiber", NativeMethods.spectrometer_readFiber(frame));
            return frame;
        }

        /// <summary>A library time stamp (ms since 1970) as a UTC DateTime.</summary>
        public static DateTime TimeOf(double milliseconds)
        {
            return new DateTime(1970, 1, 1, 0, 0, 0, DateTimeKind.Utc).AddMilliseconds(milliseconds);
        }

        private void CheckOpen()
        {
            if (fileEvent == null)
                throw new ObjectDisposedException("Spectrometer");
        }

        private void Check(string operation, int result)
        {
            CheckOpen();
            if (result != 0)
                throw NadixqException.For(operation, result, null);
        }
    }

    /// <summary>How BaselineCorrect removes the offset.</summary>
    public enum BaselineMode
    {
        /// <summary>A straight line through the means of the first and last 32 points.</summary>
        Linear = 0,
        /// <summary>The mean of all points.</summary>
        Mean = 1,
    }

    /// <summary>The library's interferogram processing, in place on a double[].
    /// Stateless: any thread, also while a run goes on.</summary>
    public static class Processing
    {
        /// <summary>
        /// Index of the zero-path-difference point: where the centre burst
        /// swings through zero between its extremes (fewer than 20 points
        /// apart). A hint from 207 to 305 narrows the search to 30 points
        /// either side of it; otherwise start..end (both included; -1: the
        /// whole array) is searched. Remove a large offset first. Throws
        /// NadixqException (code -3) when there is no single crossing.
        /// </summary>
        public static int FindZpd(double[] ifg, int hint = 0, int start = -1, int end = -1)
        {
            CheckArray(ifg);
            int result = NativeMethods.FindZPD(ifg, ifg.Length, hint, start, end);
            if (result < 0)
                throw NadixqException.For("zpd", result, null);
            return result;
        }

        /// <summary>Removes the offset of ifg in place.</summary>
        public static void BaselineCorrect(double[] ifg, BaselineMode mode)
        {
            CheckArray(ifg);
            int result = NativeMethods.BaselineCorrectIfg(ifg, ifg.Length, (int)mode);
            if (result != 1)
                throw NadixqException.For("baseline", result, null);
        }

        /// <summary>Multiplies ifg in place by a Gaussian window centred on its
        /// ZPD that has fallen to 1/e width points either side. Throws
        /// NadixqException, leaving ifg as it was, for a width outside 1e-10 to
        /// 1e10 or when there is no ZPD.</summary>
        public static void GaussianApodize(double[] ifg, double width)
        {
            CheckArray(ifg);
            int result = NativeMethods.GaussianApodize(ifg, ifg.Length, width);
            if (result != 1)
                throw NadixqException.For("apodize", result, null);
        }

        private static void CheckArray(double[] ifg)
        {
            if (ifg == null)
                throw new ArgumentNullException("ifg");
        }
    }

    /// <summary>Called for every scan the simulated board delivers, on the
    /// library's scan thread; low and high point to count samples, valid
    /// during the call only (high is zero for a single board).</summary>
    [UnmanagedFunctionPointer(CallingConvention.StdCall)]
    public delegate void TransferHook(IntPtr context, int scan, IntPtr low, IntPtr high, int count);

    /// <summary>
    /// Control of the simulated instrument (Linux builds and the simulator
    /// flavour of nadixq.dll; the production DLL has none: EntryPointNotFoundException).
    /// Safe to call at any time, also while a run goes on.
    /// </summary>
    public static class Simulator
    {
        public const int AdaptiveBoardType = -1;
        public const uint ErrorNotConnected = 1167;

        private const string Library = NativeMethods.Library;
        private const CallingConvention Call = CallingConvention.StdCall;

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        private static extern void nadixq_sim_reset();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        private static extern void nadixq_sim_set_board_type(int type);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        private static extern void nadixq_sim_set_scan_rate(double samplesPerSecond, double turnaroundMs);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        private static extern void nadixq_sim_set_noise(double sigmaCounts);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        private static extern void nadixq_sim_set_seed(ulong seed);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        private static extern void nadixq_sim_set_calibration_error(int errorvalue);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        private static extern void nadixq_sim_fail_request(uint code, int afterCalls, uint error, int times);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        private static extern void nadixq_sim_error_at_scan(int n);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        private static extern void nadixq_sim_set_sample_in_beam(int inBeam);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        private static extern void nadixq_sim_unplug();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        private static extern int nadixq_sim_scan_count();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        private static extern int nadixq_sim_imax_pos();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        private static extern uint nadixq_sim_aux_state();
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        private static extern int nadixq_sim_last_transfer(int channel, [Out] short[] samples, int count);
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        private static extern void nadixq_sim_set_transfer_hook(TransferHook hook, IntPtr context);

        // The library keeps only the function pointer: the delegate behind it
        // must stay alive for as long as the hook is set (held, never read).
#pragma warning disable 414
        private static TransferHook installedHook;
#pragma warning restore 414

        /// <summary>Whether the loaded library carries the simulated instrument.</summary>
        public static bool Available
        {
            get
            {
                try
                {
                    nadixq_sim_scan_count();
                    return true;
                }
                catch (EntryPointNotFoundException)
                {
                    return false;
                }
            }
        }

        /// <summary>Everything back to the defaults (timing, noise, seed, film
        /// in the beam, no faults, plugged in, scan counter 0, no hook).</summary>
        public static void Reset()
        {
            nadixq_sim_reset();
            installedHook = null;
        }

        public static void SetBoardType(int type) { nadixq_sim_set_board_type(type); }

        /// <summary>A scan of n points takes n / samplesPerSecond seconds plus
        /// turnaroundMs; 0 or less restores a parameter's default.</summary>
        public static void SetScanRate(double samplesPerSecond, double turnaroundMs)
        {
            nadixq_sim_set_scan_rate(samplesPerSecond, turnaroundMs);
        }

        /// <summary>Standard deviation of the white noise per sample, in counts.</summary>
        public static void SetNoise(double sigmaCounts) { nadixq_sim_set_noise(sigmaCounts); }
        public static void SetSeed(ulong seed) { nadixq_sim_set_seed(seed); }
        public static void SetCalibrationError(int errorValue) { nadixq_sim_set_calibration_error(errorValue); }

        /// <summary>Requests with control code `code` fail with Win32 error
        /// `error` after `afterCalls` more successes, `times` times (0: from then on).</summary>
        public static void FailRequest(uint code, int afterCalls, uint error, int times)
        {
            nadixq_sim_fail_request(code, afterCalls, error, times);
        }

        /// <summary>The n-th scan from now on (1: the next) reports I_ERROR instead.</summary>
        public static void ErrorAtScan(int n) { nadixq_sim_error_at_scan(n); }

        /// <summary>The polystyrene film in the beam (a sample) or out (a background).</summary>
        public static void SetSampleInBeam(bool inBeam) { nadixq_sim_set_sample_in_beam(inBeam ? 1 : 0); }

        /// <summary>Every request and open fails from now on, until Reset.</summary>
        public static void Unplug() { nadixq_sim_unplug(); }

        /// <summary>Scans delivered since the last reset.</summary>
        public static int ScanCount { get { return nadixq_sim_scan_count(); } }
        /// <summary>Sample index of the centre burst in every transfer.</summary>
        public static int ImaxPos { get { return nadixq_sim_imax_pos(); } }
        /// <summary>The aux output word as last written.</summary>
        public static uint AuxState { get { return nadixq_sim_aux_state(); } }

        /// <summary>The last delivered scan's samples of converter `channel`
        /// (0: low gain or only, 1: high gain); empty before the first scan.</summary>
        public static short[] LastTransfer(int channel)
        {
            short[] samples = new short[32768];
            int copied = nadixq_sim_last_transfer(channel, samples, samples.Length);
            Array.Resize(ref samples, Math.Max(0, copied));
            return samples;
        }

        /// <summary>Sets the hook called for every delivered scan (null removes it).</summary>
        public static void SetTransferHook(TransferHook hook)
        {
            nadixq_sim_set_transfer_hook(hook, IntPtr.Zero);
            installedHook = hook;
        }
    }

    /// <summary>The C library of Linux, for the eventfd and the errno texts.</summary>
    internal static class Libc
    {
        public const int F_DUPFD_CLOEXEC = 1030;

        [DllImport("libc", SetLastError = true)]
        public static extern int eventfd(uint initval, int flags);
        [DllImport("libc", SetLastError = true)]
        public static extern int poll([In, Out] PollFd[] fds, UIntPtr nfds, int timeout);
        [DllImport("libc", SetLastError = true)]
        public static extern IntPtr read(int fd, ref ulong value, UIntPtr count);
        [DllImport("libc", SetLastError = true)]
        public static extern IntPtr write(int fd, ref ulong value, UIntPtr count);
        [DllImport("libc")]
        public static extern int close(int fd);
        [DllImport("libc", SetLastError = true)]
        public static extern int fcntl(int fd, int command, int argument);
        [DllImport("libc")]
        private static extern IntPtr strerror(int error);

        [StructLayout(LayoutKind.Sequential)]
        public struct PollFd
        {
            public int fd;
            public short events;
            public short revents;
        }

        public static string ErrorText(int error)
        {
            return Marshal.PtrToStringAnsi(strerror(error));
        }
    }

    /// <summary>The event the library signals when a file is complete.</summary>
    internal abstract class HostEvent : IDisposable
    {
        /// <summary>The value the library takes as the handle.</summary>
        public abstract IntPtr Handle { get; }
        public abstract WaitHandle WaitHandle { get; }

        /// <summary>Takes a signal that is already there, without waiting.</summary>
        public virtual bool TakePending()
        {
            return WaitHandle.WaitOne(0);
        }

        public abstract void Dispose();

        public static HostEvent Create()
        {
            if (NativeMethods.IsWindows)
                return new Win32Event();
            return new EventFdEvent();
        }
    }

    /// <summary>Windows: an auto-reset event whose handle the library sets.</summary>
    internal sealed class Win32Event : HostEvent
    {
        private readonly AutoResetEvent signal = new AutoResetEvent(false);

        public override IntPtr Handle { get { return signal.SafeWaitHandle.DangerousGetHandle(); } }
        public override WaitHandle WaitHandle { get { return signal; } }

        public override void Dispose()
        {
            signal.Close();
        }
    }

    /// <summary>
    /// Linux: the library adds 1 to an eventfd per signal, and a Mono
    /// WaitHandle is no descriptor, so a thread of its own waits in poll() on
    /// the eventfd and sets an AutoResetEvent for what it read. A second
    /// eventfd wakes that thread at Dispose.
    /// </summary>
    internal sealed class EventFdEvent : HostEvent
    {
        private const int EFD_CLOEXEC = 0x80000;
        private const int EFD_NONBLOCK = 0x800;
        private const short POLLIN = 1;

        private readonly AutoResetEvent signal = new AutoResetEvent(false);
        // Held while a count read from the eventfd is turned into the set
        // event, so that TakePending never falls between the two.
        private readonly object transfer = new object();
        private readonly int signalFd;
        private readonly int wakeFd;
        private readonly Thread waiter;
        private volatile bool stopping;

        public EventFdEvent()
        {
            signalFd = NewEventFd();
            try
            {
                wakeFd = NewEventFd();
            }
            catch
            {
                Libc.close(signalFd);
                throw;
            }
            waiter = new Thread(Run);
            waiter.IsBackground = true;
            waiter.Name = "nadixq eventfd";
            waiter.Start();
        }

        public override IntPtr Handle { get { return new IntPtr(signalFd); } }
        public override WaitHandle WaitHandle { get { return signal; } }

        public override bool TakePending()
        {
            lock (transfer)
            {
                bool counted = Drain(signalFd) > 0;
                return signal.WaitOne(0) || counted;
            }
        }

        public override void Dispose()
        {
            stopping = true;
            ulong one = 1;
            Libc.write(wakeFd, ref one, new UIntPtr(8));
            waiter.Join();
            Libc.close(signalFd);
            Libc.close(wakeFd);
            signal.Close();
        }

        private void Run()
        {
            Libc.PollFd[] fds = new Libc.PollFd[2];
            fds[0].fd = signalFd;
            fds[0].events = POLLIN;
            fds[1].fd = wakeFd;
            fds[1].events = POLLIN;
            while (!stopping)
            {
                fds[0].revents = 0;
                fds[1].revents = 0;
                // -1 also when the runtime's signals interrupt the wait (EINTR).
                if (Libc.poll(fds, new UIntPtr(2), -1) <= 0)
                    continue;
                if ((fds[0].revents & POLLIN) != 0)
                {
                    lock (transfer)
                    {
                        if (Drain(signalFd) > 0)
                            signal.Set();
                    }
                }
            }
        }

        // The signals counted since the last read (0 when none); resets the count.
        private static ulong Drain(int fd)
        {
            ulong count = 0;
            return Libc.read(fd, ref count, new UIntPtr(8)).ToInt64() == 8 ? count : 0;
        }

        private static int NewEventFd()
        {
            int fd = Libc.eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
            if (fd < 0)
                throw new InvalidOperationException("eventfd failed: errno " + Marshal.GetLastWin32Error());
            if (fd == 0)
            {
                // Descriptor 0 (stdin was closed) reads as a null handle and
                // would switch the signal off: move it to the lowest from 1.
                int moved = Libc.fcntl(fd, Libc.F_DUPFD_CLOEXEC, 1);
                int error = Marshal.GetLastWin32Error();
                Libc.close(fd);
                if (moved < 0)
                    throw new InvalidOperationException("moving the eventfd from 0 failed: errno " + error);
                fd = moved;
            }
            return fd;
        }
    }
}
