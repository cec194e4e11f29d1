// The C# binding against the simulated instrument of the Linux library, under
// Mono, through the declarations a Windows host uses; and those declarations
// held against the 32-bit DLL's export table, which cannot be called here.
//
// Usage: mono nadixq-csharp-test.exe <nadixq.def> <work folder>
// Exit code 0 when every check holds; each failure is printed.

using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Threading;
using Nadixq;

internal static class BindingTest
{
    private const int Points = 1024;
    private const int Scans = 16;
    private const int Files = 3;

    private static int failures;

    private static int Main(string[] args)
    {
        if (args.Length != 2)
        {
            Console.Error.WriteLine("usage: nadixq-csharp-test.exe <nadixq.def> <work folder>");
            return 2;
        }
        if (!Simulator.Available)
        {
            Console.Error.WriteLine("the library has no simulated instrument");
            return 1;
        }
        Run("the declarations match the 32-bit export table", () => DeclarationsMatchTheExportTable(args[0]));
        Run("failures come as exceptions with their codes", FailuresComeAsExceptions);
        Run("a streamed run of 3 files, fetched, streamed and apodized", () => StreamedRun(args[1]));
        Run("the file event is a WaitHandle to wait on", FileEventIsAWaitHandle);
        Run("aux, fiber, settings and the remaining exports", BoardInputOutputAndSettings);
        Console.WriteLine(failures == 0 ? "all checks passed" : failures + " check(s) failed");
        return failures == 0 ? 0 : 1;
    }

    private static void Run(string name, Action check)
    {
        Console.WriteLine("== " + name);
        Simulator.Reset();
        try
        {
            check();
        }
        catch (Exception error)
        {
            Fail("unexpected " + error);
        }
    }

    private static void Fail(string text)
    {
        failures++;
        Console.WriteLine("FAIL: " + text);
    }

    private static void Expect(bool condition, string text)
    {
        if (!condition)
            Fail(text);
    }

    private static void ExpectEqual<T>(T expected, T actual, string what)
    {
        if (!EqualityComparer<T>.Default.Equals(expected, actual))
            Fail(what + ": expected " + expected + ", got " + actual);
    }

    private static NadixqException Throws(Action action, string what)
    {
        try
        {
            action();
        }
        catch (NadixqException error)
        {
            return error;
        }
        Fail(what + ": no NadixqException");
        return null;
    }

    // A Windows host calls the 32-bit DLL by the names and with the stack
    // layout of its export table (nadixq.def: export = symbol@argument bytes).
    // Every declaration must name an export, all 32 must be declared, and each
    // must push exactly the argument bytes the callee removes, or the stdcall
    // call would leave the stack unbalanced.
    private static void DeclarationsMatchTheExportTable(string defPath)
    {
        var table = new Dictionary<string, int>();
        foreach (string raw in File.ReadAllLines(defPath))
        {
            string line = raw.Trim();
            int equals = line.IndexOf('=');
            int at = line.LastIndexOf('@');
            if (line.StartsWith(";") || equals < 0 || at < equals)
                continue;
            table[line.Substring(0, equals).Trim()] = int.Parse(line.Substring(at + 1));
        }
        ExpectEqual(32, table.Count, "exports in " + defPath);

        const BindingFlags all = BindingFlags.Public | BindingFlags.NonPublic | BindingFlags.Static;
        var declared = new Dictionary<string, MethodInfo>();
        var classes = new[] {
            typeof(NativeMethods),
            typeof(NativeMethods).GetNestedType("Win32Names", BindingFlags.NonPublic),
        };
        foreach (Type type in classes)
        {
            foreach (MethodInfo method in type.GetMethods(all))
            {
                var import = (DllImportAttribute)Attribute.GetCustomAttribute(method, typeof(DllImportAttribute));
                if (import == null)
                    continue;
                ExpectEqual(CallingConvention.StdCall, import.CallingConvention, method.Name + "'s convention");
                ExpectEqual(NativeMethods.Library, import.Value, method.Name + "'s library");
                declared[import.EntryPoint ?? method.Name] = method;
            }
        }
        foreach (var export in table)
        {
            MethodInfo method;
            if (!declared.TryGetValue(export.Key, out method))
            {
                Fail("no declaration of the export " + export.Key);
                continue;
            }
            ExpectEqual(export.Value, StackBytes(method), export.Key + "'s argument bytes on 32-bit Windows");
        }
        foreach (string name in declared.Keys.Where(name => !table.ContainsKey(name)))
            Fail("the declaration " + name + " names no export");
    }

    // Bytes a 32-bit stdcall call pushes: 8 for a double, 4 for anything
    // else the declarations pass (int, ushort widened, pointers, arrays,
    // references, strings).
    private static int StackBytes(MethodInfo method)
    {
        return method.GetParameters().Sum(p => p.ParameterType == typeof(double) ? 8 : 4);
    }

    private static void FailuresComeAsExceptions()
    {
        NadixqException error = Throws(() => new Spectrometer(7).Dispose(), "model 7");
        if (error != null)
        {
            ExpectEqual(ResultCodes.NoBoardClass, error.Code, "model 7's code");
            ExpectEqual("no board class for model 7 (0x80070011)", error.Message, "model 7's message");
            ExpectEqual("open", error.Operation, "model 7's operation");
        }

        using (var s = new Spectrometer(1))
        {
            s.Points = Points;
            error = Throws(() => s.GetData(), "data before any run");
            if (error != null)
            {
                ExpectEqual(ResultCodes.Refused, error.Code, "no data's code");
                ExpectEqual("no finished file of 1024 points is ready (1)", error.Message, "no data's message");
            }
            string missing = Path.Combine(Path.GetTempPath(), "nadixq-no-such-folder", "run.spc");
            error = Throws(() => s.StreamToDisk(missing), "stream into a missing folder");
            if (error != null)
                ExpectEqual(unchecked((int)0x80070002), error.Code, "missing folder's code (ENOENT)");
            ExpectEqual(SpectrometerStatus.Ready, s.Status, "status after the refused stream");
            Expect(!s.WaitForFile(30000), "a wait without a run returns at once with nothing");
            Expect(!s.Stop(), "a stop without a run");

            Simulator.SetCalibrationError(2);
            error = Throws(s.Calibrate, "calibration with error 2");
            if (error != null)
                ExpectEqual("calibration: the calibration failed with error 2 (0x80070008)", error.Message,
                            "calibration's message");
        }

        error = Throws(() => Processing.FindZpd(new double[512]), "ZPD of a flat line");
        if (error != null)
            ExpectEqual(ResultCodes.ZpdNotFound, error.Code, "ZPD's code");
        var untouched = new double[] { 1, 2, 3 };
        Throws(() => Processing.GaussianApodize(untouched, 0.0), "apodization of width 0");
        Expect(untouched.SequenceEqual(new double[] { 1, 2, 3 }), "a refused apodization leaves the values");
    }

    private static void StreamedRun(string work)
    {
        Simulator.SetSeed(7);
        int hookCalls = 0;
        TransferHook hook = (context, scan, low, high, count) => Interlocked.Increment(ref hookCalls);
        Simulator.SetTransferHook(hook);
        string path = Path.Combine(work, "csharp-run.spc");
        var files = new List<AcquiredFile>();
        double before = (DateTime.UtcNow - new DateTime(1970, 1, 1)).TotalMilliseconds;

        using (var s = new Spectrometer(1))
        {
            s.Points = Points;
            s.Scans = Scans;
            s.Files = Files;
            s.Initialize();
            s.Calibrate();
            // Each file is fetched as soon as its event is set; 16 scans of
            // about 15 ms leave ample time before the next file replaces it.
            foreach (AcquiredFile file in s.Acquire(path))
                files.Add(file);

            ExpectEqual(SpectrometerStatus.Ready, s.Status, "status after the run");
            ExpectEqual(Files, s.FileProgress, "file progress");
            ExpectEqual(Scans, s.ScanProgress, "scan progress");
            ExpectEqual(Scans * Files, Simulator.ScanCount, "scans delivered");
            ExpectEqual(Scans * Files, Thread.VolatileRead(ref hookCalls), "transfer hook calls");
            ExpectEqual(32768, Simulator.LastTransfer(0).Length, "samples of the last transfer");
            if (files.Count > 0)
                ExpectEqual(files[files.Count - 1].Timestamp, s.Timestamp, "time stamp of the newest file");
            Expect(!s.FileCompleted.WaitOne(0), "no signal left after the run");
        }
        Simulator.SetTransferHook(null);
        GC.KeepAlive(hook);

        ExpectEqual(Files, files.Count, "files fetched");
        // The board's calibration finds the burst in the transfer; the
        // library hands out the interferogram with it near index 256.
        Expect(Simulator.ImaxPos > 256, "the burst's position in the transfer: " + Simulator.ImaxPos);
        const int burst = 256;
        for (int i = 0; i < files.Count; i++)
        {
            double[] values = files[i].Values;
            ExpectEqual(Points, values.Length, "points of file " + i);
            int peak = Array.IndexOf(values, values.Max());
            Expect(Math.Abs(peak - burst) <= 2, "file " + i + "'s burst at " + peak + ", not near " + burst);
            Expect(files[i].Timestamp > before - 5000 && files[i].Timestamp < before + 60000,
                   "file " + i + "'s time stamp " + files[i].Time.ToString("o"));
            Expect(i == 0 || files[i].Timestamp > files[i - 1].Timestamp, "file " + i + " is newer than the one before");
        }

        // The stream file holds each file as the binding fetched it (32-bit floats).
        byte[] content = File.ReadAllBytes(path);
        ExpectEqual(512 + Files * (32 + 4 * Points), content.Length, "stream file size");
        if (content.Length == 512 + Files * (32 + 4 * Points))
        {
            ExpectEqual((uint)Points, BitConverter.ToUInt32(content, 4), "fnpts");
            ExpectEqual((uint)Files, BitConverter.ToUInt32(content, 24), "fnsub");
            for (int i = 0; i < files.Count; i++)
            {
                int offset = 512 + i * (32 + 4 * Points);
                ExpectEqual((ushort)i, BitConverter.ToUInt16(content, offset + 2), "subfile " + i + "'s index");
                int differing = Enumerable.Range(0, Points)
                    .Count(j => BitConverter.ToSingle(content, offset + 32 + 4 * j) != (float)files[i].Values[j]);
                ExpectEqual(0, differing, "values of subfile " + i + " that differ from the fetched file");
            }
        }

        if (files.Count == 0)
            return;
        // Processing: offset removed, ZPD found, a Gaussian window around it.
        double[] ifg = (double[])files[0].Values.Clone();
        Processing.BaselineCorrect(ifg, BaselineMode.Mean);
        Expect(Math.Abs(ifg.Average()) < 1e-9, "mean after the baseline correction: " + ifg.Average());
        int zpd = Processing.FindZpd(ifg);
        Expect(Math.Abs(zpd - burst) <= 2, "ZPD at " + zpd + ", not near " + burst);
        ExpectEqual(zpd, Processing.FindZpd(ifg, zpd), "ZPD found from its hint");
        double[] plain = (double[])ifg.Clone();
        const double width = 50.0;
        Processing.GaussianApodize(ifg, width);
        ExpectEqual(plain[zpd], ifg[zpd], "weight 1 at the ZPD");
        double worst = 0;
        for (int i = 0; i < Points; i++)
        {
            double expected = plain[i] * Math.Exp(-(double)(i - zpd) * (i - zpd) / (width * width));
            worst = Math.Max(worst, Math.Abs(ifg[i] - expected) / Math.Max(Math.Abs(plain[i]), 1e-300));
        }
        Expect(worst < 1e-12, "apodized values off the Gaussian window by " + worst);
        Expect(ifg[zpd + 200] == 0.0 || Math.Abs(ifg[zpd + 200]) < 1e-6 * Math.Abs(plain[zpd]),
               "the window has fallen off 200 points away");
    }

    private static void FileEventIsAWaitHandle()
    {
        using (var s = new Spectrometer(1))
        {
            s.Points = Points;
            s.Scans = 2;
            s.Files = 1;
            s.Initialize();
            s.Calibrate();
            s.Start();
            // Waited on as a host would, without the binding's own wait.
            Expect(WaitHandle.WaitAny(new[] { s.FileCompleted }, 30000) == 0, "no file event within 30 s");
            ExpectEqual(Points, s.GetData().Length, "points of the signalled file");
            Expect(!s.WaitForFile(30000), "the run of one file ends without a further file");
            ExpectEqual(SpectrometerStatus.Ready, s.Status, "status after the run");
        }
    }

    private static void BoardInputOutputAndSettings()
    {
        using (var s = new Spectrometer(3))
        {
            ExpectEqual(4, s.Capabilities, "model 3's capabilities (fiber link)");
            uint[] frame = Enumerable.Range(0, 16).Select(i => 0xA5000000u + (uint)i * 0x01010101u).ToArray();
            s.WriteFiber(frame);
            Expect(s.ReadFiber().SequenceEqual(frame), "fiber frame round trip");
            s.WriteAux(0x1234);
            s.WriteAux(0xFF00, 0x0F0F);
            ExpectEqual(0x1F30u, Simulator.AuxState, "aux word after a masked write");
        }
        using (var s = new Spectrometer(4))
        {
            NadixqException error = Throws(() => s.ReadFiber(), "fiber on model 4");
            if (error != null)
                ExpectEqual("fiber link: not supported by this board (0x80004001)", error.Message, "model 4's fiber");
        }
        using (var first = new Spectrometer(1))
        {
            double gain = first.Gain, resolution = first.Resolution;
            int points = first.Points, scans = first.Scans, files = first.Files;
            first.Gain = 2.5;
            ExpectEqual(2.5, first.Gain, "gain");
            first.Resolution = 0.5;
            ExpectEqual(0.5, first.Resolution, "resolution");
            ExpectEqual(32768, first.Points, "points of the finest resolution");
            first.Resolution = 16;
            ExpectEqual(1024, first.Points, "points of resolution 16");
            first.Points = 4096;
            first.Scans = 5;
            first.Files = 0;
            ExpectEqual(4096, first.Points, "points");
            ExpectEqual(5, first.Scans, "scans");
            ExpectEqual(0, first.Files, "files");
            ExpectEqual(0, NativeMethods.spectrometer_execute(0), "execute");
            ExpectEqual(0, NativeMethods.spectrometer_setScanCompleteEventHandle(IntPtr.Zero), "no scan event");

            // One instrument per process: a second open closes the first.
            using (var second = new Spectrometer(2))
            {
                Expect(first.IsClosed, "the first instrument is closed by the second open");
                Expect(!second.IsClosed, "the second instrument is open");
            }
            first.Gain = gain;
            first.Resolution = resolution;
            first.Points = points;
            first.Scans = scans;
            first.Files = files;
        }
    }
}
