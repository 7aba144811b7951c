package com.velmar;

import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintWriter;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;

/**
 * The class the launcher starts in the runtime. Arguments: the minimum Java
 * version, the application's main class, the launcher's temporary folder,
 * then the application's own arguments.
 *
 * It marks the folder with "665824.A" as soon as it runs, so the launcher
 * knows this runtime worked; ends with 0x10000222 (also written into the
 * marker, because a POSIX exit status keeps only its low 8 bits) when the
 * running Java is older than the minimum; starts the main class; and when
 * the application cannot be started or its main method throws, writes the
 * exception and its stack to "errStack.txt" in the folder and ends with 1.
 *
 * Compiled for Java 8 and kept to one class: the jar holds exactly this
 * class file.
 */
public final class KLOVClassLoader {
    private static final int UPDATE_NEEDED = 0x10000222;
    private static final String UPDATE_NEEDED_MARK = "10000222";
    private static final String MARKER = "665824.A";
    private static final String ERROR_REPORT = "errStack.txt";

    private KLOVClassLoader() {
    }

    public static void main(String[] args) {
        if (args.length < 3) {
            System.err.println("KLOVClassLoader: expected the minimum Java version, the main class and a folder");
            System.exit(1);
        }
        File folder = new File(args[2]);
        File marker = new File(folder, MARKER);
        if (!write(marker, "")) {
            System.exit(1);
        }
        if (compareVersions(System.getProperty("java.version", "0"), args[0]) < 0) {
            write(marker, UPDATE_NEEDED_MARK);
            System.exit(UPDATE_NEEDED);
        }

        String[] applicationArgs = new String[args.length - 3];
        System.arraycopy(args, 3, applicationArgs, 0, applicationArgs.length);
        Throwable failure;
        try {
            Class<?> mainClass = Class.forName(args[1], true, ClassLoader.getSystemClassLoader());
            Method main = mainClass.getMethod("main", String[].class);
            if (!Modifier.isStatic(main.getModifiers())) {
                throw new NoSuchMethodException(args[1] + ".main(String[]) is not static");
            }
            // A main class that is not public still starts, as it would from the java command.
            main.setAccessible(true);
            main.invoke(null, (Object) applicationArgs);
            // Returning lets the application's own threads (a window, say) keep running.
            return;
        } catch (InvocationTargetException e) {
            failure = e.getCause() != null ? e.getCause() : e;
        } catch (Throwable e) {
            failure = e;
        }
        writeReport(new File(folder, ERROR_REPORT), failure);
        System.exit(1);
    }

    private static boolean write(File file, String text) {
        OutputStream out = null;
        try {
            out = new FileOutputStream(file);
            out.write(text.getBytes("US-ASCII"));
            out.close();
            out = null;
            return true;
        } catch (IOException e) {
            return false;
        } finally {
            if (out != null) {
                try {
                    out.close();
                } catch (IOException ignored) {
                    // Already failing.
                }
            }
        }
    }

    private static void writeReport(File file, Throwable failure) {
        try {
            PrintWriter out = new PrintWriter(file);
            failure.printStackTrace(out);
            out.close();
        } catch (IOException e) {
            // Without a report the launcher still sees the exit code.
            failure.printStackTrace();
        }
    }

    /**
     * Compares two Java version texts, "1.3", "1.8.0_292" and "17.0.15" alike:
     * the numbers separated by '.' or '_' (up to the first other character),
     * with a leading "1." dropped from the versions that used it (1.3 is 3).
     */
    static int compareVersions(String a, String b) {
        int[] x = versionNumbers(a);
        int[] y = versionNumbers(b);
        for (int i = 0; i < Math.max(x.length, y.length); i++) {
            int p = i < x.length ? x[i] : 0;
            int q = i < y.length ? y[i] : 0;
            if (p != q) {
                return p < q ? -1 : 1;
            }
        }
        return 0;
    }

    private static int[] versionNumbers(String version) {
        int[] numbers = new int[version.length() + 1];
        int count = 0;
        long value = -1;
        for (int i = 0; i <= version.length(); i++) {
            char c = i < version.length() ? version.charAt(i) : '\0';
            if (c >= '0' && c <= '9') {
                value = Math.min((value < 0 ? 0 : value) * 10 + (c - '0'), Integer.MAX_VALUE);
            } else {
                if (value >= 0) {
                    numbers[count++] = (int) value;
                }
                value = -1;
                if (c != '.' && c != '_') {
                    break;
                }
            }
        }
        int first = count >= 2 && numbers[0] == 1 ? 1 : 0;
        int[] out = new int[count - first];
        System.arraycopy(numbers, first, out, 0, out.length);
        return out;
    }
}
